#include "fault_os.h"

#include "table_support.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace enginetest {

using engine::os::File;
using engine::os::Status;

FaultBackend::FaultBackend(std::uint64_t crashAt, CrashMode mode, bool powerCut, bool inMemory)
    : crashAt_(crashAt), mode_(mode), powerCut_(powerCut), inMemory_(inMemory) {
    engine::os::install(this);
}

FaultBackend::~FaultBackend() {
    if (engine::os::installed() == this) engine::os::install(nullptr);
}

FaultBackend::Keep FaultBackend::loseAll() {
    return [](const std::string&, std::size_t, std::size_t) { return false; };
}

namespace {
bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}
} // namespace

FaultBackend::Keep FaultBackend::keepOnly(std::string suffix) {
    return [suffix](const std::string& p, std::size_t, std::size_t) { return endsWith(p, suffix); };
}

FaultBackend::Keep FaultBackend::tornAt(std::string suffix, std::size_t n) {
    return [suffix, n](const std::string& p, std::size_t i, std::size_t) {
        return !endsWith(p, suffix) || i < n;
    };
}

bool FaultBackend::takeChange() {
    return changes_++ < crashAt_;
}

FaultBackend::Open* FaultBackend::find(File& f) {
    const auto it = open_.find(handleOf(f));
    return it == open_.end() ? nullptr : &it->second;
}

FaultBackend::PathState& FaultBackend::path(const std::string& p) {
    PathState& ps = paths_[p];
    if (inMemory_ && !ps.loaded) {
        ps.loaded = true;
        ps.memExists = engine::os::isFile(p);
        if (ps.memExists) ps.mem = readFile(p);
    }
    return ps;
}

bool FaultBackend::diskExists(const std::string& p) {
    return inMemory_ ? path(p).memExists : engine::os::isFile(p);
}

std::string FaultBackend::diskRead(const std::string& p) {
    return inMemory_ ? path(p).mem : readFile(p);
}

void FaultBackend::diskPut(const std::string& p, bool exists, const std::string& bytes) {
    touched_.insert(p);
    if (inMemory_) {
        PathState& ps = path(p);
        ps.memExists = exists;
        ps.mem = exists ? bytes : std::string();
        return;
    }
    std::error_code ec;
    if (exists)
        writeFile(p, bytes);
    else
        std::filesystem::remove(p, ec);
}

std::optional<std::string> FaultBackend::image(const std::string& p) {
    if (!diskExists(p)) return std::nullopt;
    return diskRead(p);
}

void FaultBackend::apply(std::string& image, const Change& c) {
    if (c.truncate) {
        image.resize(static_cast<std::size_t>(c.offset), '\0');
        return;
    }
    const std::size_t end = static_cast<std::size_t>(c.offset) + c.bytes.size();
    if (image.size() < end) image.resize(end, '\0');
    std::copy(c.bytes.begin(), c.bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(c.offset));
}

// The first change after the crash in a file: from now on the file as this process sees it
// lives in memory, apart from the disk.
void FaultBackend::startShadow(PathState& ps, File*, const std::string& p) {
    if (ps.shadowed) return;
    ps.shadowed = true;
    ps.shadowExists = diskExists(p);
    if (ps.shadowExists) ps.shadow = diskRead(p);
}

Status FaultBackend::open(File& f, const std::string& p, bool writable) {
    PathState& ps = path(p);
    if (ps.shadowed || inMemory_) {
        if (ps.shadowed ? !ps.shadowExists : !ps.memExists) return Status::notFound;
        setHandle(f, nextPhantom_--);
        open_[handleOf(f)] = Open{p, true};
    } else {
        const Status s = Backend::open(f, p, writable);
        if (s != Status::ok) return s;
        open_[handleOf(f)] = Open{p, false};
    }
    if (powerCut_ && !ps.known && !ps.shadowed) {
        ps.known = true;
        ps.durableExists = true;
        ps.durable = diskRead(p);
    }
    return Status::ok;
}

Status FaultBackend::create(File& f, const std::string& p, bool mustBeNew) {
    PathState& ps = path(p);
    const bool exists = ps.shadowed ? ps.shadowExists : diskExists(p);
    if (exists) {
        if (mustBeNew) return Status::exists;
        return open(f, p, true);
    }
    if (!takeChange()) {
        if (mode_ == CrashMode::refuse) return Status::ioError;
        ps.shadowed = true;
        ps.shadowExists = true;
        ps.shadow.clear();
        setHandle(f, nextPhantom_--);
        open_[handleOf(f)] = Open{p, true};
        return Status::ok;
    }
    if (inMemory_) {
        diskPut(p, true, {});
        setHandle(f, nextPhantom_--);
        open_[handleOf(f)] = Open{p, true};
    } else {
        const Status s = Backend::create(f, p, mustBeNew);
        if (s != Status::ok) return s;
        touched_.insert(p);
        open_[handleOf(f)] = Open{p, false};
    }
    if (powerCut_) {
        // Created, and not there after a power cut until a flush says so.
        ps.known = true;
        ps.durableExists = false;
        ps.durable.clear();
        ps.pending.push_back(Change{true, 0, {}});
    }
    return Status::ok;
}

void FaultBackend::close(File& f) {
    Open* o = find(f);
    if (!o || !o->phantom) Backend::close(f);
    open_.erase(handleOf(f));
}

Status FaultBackend::read(File& f, std::uint64_t offset, void* data, std::size_t len, std::size_t& got) {
    Open* o = find(f);
    got = 0;
    if (o) {
        PathState& ps = path(o->path);
        if (ps.shadowed || inMemory_) {
            const std::string& bytes = ps.shadowed ? ps.shadow : ps.mem;
            if (offset < bytes.size()) {
                got = std::min<std::size_t>(len, bytes.size() - static_cast<std::size_t>(offset));
                std::copy_n(bytes.data() + offset, got, static_cast<char*>(data));
            }
            return Status::ok;
        }
    }
    return Backend::read(f, offset, data, len, got);
}

Status FaultBackend::size(File& f, std::uint64_t& out) {
    Open* o = find(f);
    if (o) {
        PathState& ps = path(o->path);
        if (ps.shadowed || inMemory_) {
            out = ps.shadowed ? ps.shadow.size() : ps.mem.size();
            return Status::ok;
        }
    }
    return Backend::size(f, out);
}

// A write or a truncation.
Status FaultBackend::change(File& f, Change c) {
    Open* o = find(f);
    if (!o) return Status::ioError;
    PathState& ps = path(o->path);
    if (!takeChange()) {
        if (mode_ == CrashMode::refuse) return Status::ioError;
        startShadow(ps, &f, o->path);
        apply(ps.shadow, c);
        return Status::ok;
    }
    Status s = Status::ok;
    if (inMemory_) {
        apply(ps.mem, c);
        touched_.insert(o->path);
    } else {
        s = c.truncate ? Backend::truncate(f, c.offset)
                       : Backend::write(f, c.offset, c.bytes.data(), c.bytes.size());
        touched_.insert(o->path);
    }
    if (s == Status::ok && powerCut_) ps.pending.push_back(std::move(c));
    return s;
}

Status FaultBackend::write(File& f, std::uint64_t offset, const void* data, std::size_t len) {
    return change(f, Change{false, offset, std::string(static_cast<const char*>(data), len)});
}

Status FaultBackend::truncate(File& f, std::uint64_t length) {
    return change(f, Change{true, length, {}});
}

Status FaultBackend::flush(File& f) {
    Open* o = find(f);
    if (!o) return Status::ioError;
    if (crashed()) return mode_ == CrashMode::refuse ? Status::ioError : Status::ok;
    // What lasts is what this back end keeps: the system's own flush would only wait for the
    // disk.
    ++flushes_;
    if (powerCut_) {
        PathState& ps = path(o->path);
        for (const Change& c : ps.pending) apply(ps.durable, c);
        ps.durableExists = true;
        ps.pending.clear();
    }
    return Status::ok;
}

Status FaultBackend::lock(File& f, std::uint64_t offset, std::uint64_t length, bool exclusive) {
    Open* o = find(f);
    if (o && o->phantom) return Status::ok;
    return Backend::lock(f, offset, length, exclusive);
}

Status FaultBackend::unlock(File& f, std::uint64_t offset, std::uint64_t length) {
    Open* o = find(f);
    if (o && o->phantom) return Status::ok;
    return Backend::unlock(f, offset, length);
}

Status FaultBackend::removeFile(const std::string& p) {
    PathState& ps = path(p);
    const bool exists = ps.shadowed ? ps.shadowExists : diskExists(p);
    if (!exists) return Status::notFound;
    if (!takeChange()) {
        if (mode_ == CrashMode::refuse) return Status::ioError;
        startShadow(ps, nullptr, p);
        ps.shadowExists = false;
        ps.shadow.clear();
        return Status::ok;
    }
    Status s = Status::ok;
    if (inMemory_)
        diskPut(p, false, {});
    else
        s = Backend::removeFile(p);
    touched_.insert(p);
    if (s == Status::ok && powerCut_) {
        // A removal is taken to be lasting at once (the worst case for a file that the removal
        // makes room for is tried through the changes around it).
        ps.known = true;
        ps.durableExists = false;
        ps.durable.clear();
        ps.pending.clear();
    }
    return s;
}

std::map<std::string, std::size_t> FaultBackend::unflushed() const {
    std::map<std::string, std::size_t> out;
    for (const auto& [p, ps] : paths_) out[p] = ps.pending.size();
    return out;
}

void FaultBackend::cutPower(const Keep& keep) {
    for (auto& [p, ps] : paths_) {
        if (!ps.known) continue;
        bool exists = ps.durableExists;
        std::string image = ps.durable;
        for (std::size_t i = 0; i < ps.pending.size(); ++i) {
            if (!keep(p, i, ps.pending.size())) continue;
            apply(image, ps.pending[i]);
            exists = true;
        }
        diskPut(p, exists, image);
    }
}

} // namespace enginetest

#include "fault_os.h"

#include "table_support.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace enginetest {

using engine::os::File;
using engine::os::Status;

FaultBackend::FaultBackend(std::uint64_t crashAt, CrashMode mode, bool powerCut)
    : crashAt_(crashAt), mode_(mode), powerCut_(powerCut) {
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
    return paths_[p];
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
// lives in memory.
void FaultBackend::startShadow(PathState& ps, File* f, const std::string& p) {
    if (ps.shadowed) return;
    ps.shadowed = true;
    ps.shadowExists = engine::os::isFile(p);
    if (!ps.shadowExists) return;
    if (f) {
        std::uint64_t n = 0;
        Backend::size(*f, n);
        ps.shadow.assign(static_cast<std::size_t>(n), '\0');
        std::size_t got = 0;
        Backend::read(*f, 0, ps.shadow.data(), ps.shadow.size(), got);
        ps.shadow.resize(got);
    } else {
        std::ifstream in(p, std::ios::binary);
        ps.shadow.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
}

Status FaultBackend::open(File& f, const std::string& p, bool writable) {
    PathState& ps = path(p);
    if (ps.shadowed && !ps.shadowExists) return Status::notFound;
    if (ps.shadowed && !engine::os::isFile(p)) {
        setHandle(f, nextPhantom_--);
        open_[handleOf(f)] = Open{p, true};
        return Status::ok;
    }
    const Status s = Backend::open(f, p, writable);
    if (s != Status::ok) return s;
    open_[handleOf(f)] = Open{p, false};
    if (powerCut_ && !ps.known) {
        ps.known = true;
        ps.durableExists = true;
        std::uint64_t n = 0;
        Backend::size(f, n);
        ps.durable.assign(static_cast<std::size_t>(n), '\0');
        std::size_t got = 0;
        Backend::read(f, 0, ps.durable.data(), ps.durable.size(), got);
        ps.durable.resize(got);
    }
    return Status::ok;
}

Status FaultBackend::create(File& f, const std::string& p, bool mustBeNew) {
    PathState& ps = path(p);
    const bool exists = ps.shadowed ? ps.shadowExists : engine::os::isFile(p);
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
    Status s = Backend::create(f, p, mustBeNew);
    if (s != Status::ok) return s;
    touched_.insert(p);
    open_[handleOf(f)] = Open{p, false};
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
    if (o && !o->phantom) Backend::close(f);
    if (!o) Backend::close(f);
    open_.erase(handleOf(f));
}

Status FaultBackend::read(File& f, std::uint64_t offset, void* data, std::size_t len, std::size_t& got) {
    Open* o = find(f);
    got = 0;
    if (o) {
        PathState& ps = path(o->path);
        if (ps.shadowed) {
            if (offset < ps.shadow.size()) {
                got = std::min<std::size_t>(len, ps.shadow.size() - static_cast<std::size_t>(offset));
                std::copy_n(ps.shadow.data() + offset, got, static_cast<char*>(data));
            }
            return Status::ok;
        }
    }
    return Backend::read(f, offset, data, len, got);
}

Status FaultBackend::write(File& f, std::uint64_t offset, const void* data, std::size_t len) {
    Open* o = find(f);
    if (!o) return Status::ioError;
    PathState& ps = path(o->path);
    Change c{false, offset, std::string(static_cast<const char*>(data), len)};
    if (!takeChange()) {
        if (mode_ == CrashMode::refuse) return Status::ioError;
        startShadow(ps, o->phantom ? nullptr : &f, o->path);
        apply(ps.shadow, c);
        return Status::ok;
    }
    Status s = Backend::write(f, offset, data, len);
    touched_.insert(o->path);
    if (s == Status::ok && powerCut_) ps.pending.push_back(std::move(c));
    return s;
}

Status FaultBackend::size(File& f, std::uint64_t& out) {
    Open* o = find(f);
    if (o) {
        PathState& ps = path(o->path);
        if (ps.shadowed) {
            out = ps.shadow.size();
            return Status::ok;
        }
    }
    return Backend::size(f, out);
}

Status FaultBackend::truncate(File& f, std::uint64_t length) {
    Open* o = find(f);
    if (!o) return Status::ioError;
    PathState& ps = path(o->path);
    Change c{true, length, {}};
    if (!takeChange()) {
        if (mode_ == CrashMode::refuse) return Status::ioError;
        startShadow(ps, o->phantom ? nullptr : &f, o->path);
        apply(ps.shadow, c);
        return Status::ok;
    }
    Status s = Backend::truncate(f, length);
    touched_.insert(o->path);
    if (s == Status::ok && powerCut_) ps.pending.push_back(std::move(c));
    return s;
}

Status FaultBackend::flush(File& f) {
    Open* o = find(f);
    if (!o) return Status::ioError;
    if (crashed()) return mode_ == CrashMode::refuse ? Status::ioError : Status::ok;
    // What lasts is what this back end keeps: the system's own flush would only wait for the
    // disk.
    ++flushes_;
    const Status s = Status::ok;
    if (powerCut_) {
        PathState& ps = path(o->path);
        for (const Change& c : ps.pending) apply(ps.durable, c);
        ps.durableExists = true;
        ps.pending.clear();
    }
    return s;
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
    const bool exists = ps.shadowed ? ps.shadowExists : engine::os::isFile(p);
    if (!exists) return Status::notFound;
    if (!takeChange()) {
        if (mode_ == CrashMode::refuse) return Status::ioError;
        startShadow(ps, nullptr, p);
        ps.shadowExists = false;
        ps.shadow.clear();
        return Status::ok;
    }
    Status s = Backend::removeFile(p);
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
    namespace fs = std::filesystem;
    for (auto& [p, ps] : paths_) {
        touched_.insert(p);
        bool exists = ps.durableExists;
        std::string image = ps.durable;
        for (std::size_t i = 0; i < ps.pending.size(); ++i) {
            if (!keep(p, i, ps.pending.size())) continue;
            apply(image, ps.pending[i]);
            exists = true;
        }
        std::error_code ec;
        if (!exists) {
            fs::remove(p, ec);
            continue;
        }
        writeFile(p, image);
    }
}

} // namespace enginetest

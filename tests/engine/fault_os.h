// Test back ends of the engine's operating-system layer (engine/os.h) that fail the way a
// machine does: a process killed or a disk filled at a given change, and a power cut that
// also loses what was written since the last flush.
#pragma once

#include "engine/os.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace enginetest {

// What becomes of the changes from the crash point on.
enum class CrashMode {
    refuse, // each answers an error, as on a full disk
    drop,   // each seems to succeed but never reaches the disk, as in a killed process: the
            // process goes on seeing its own changes (kept in memory), nothing else does
};

// Counts every change made to files through it (a write, a truncation, the creation of a file
// that was not there, a removal), in all files together, and from change number crashAt on
// (0-based) refuses or drops them. With powerCut it also keeps, per file, what the file held
// at its last flush and every change since, so that cutPower() can put the disk back as a
// power cut would leave it. With inMemory the disk it works on is a copy in memory of the
// files as they were when it first met them (image() tells what they hold), so that a run
// costs no file system calls; locks then always succeed (one handle per table). Installs
// itself while it lives.
class FaultBackend final : public engine::os::Backend {
  public:
    static constexpr std::uint64_t never = std::numeric_limits<std::uint64_t>::max();

    explicit FaultBackend(std::uint64_t crashAt = never, CrashMode mode = CrashMode::refuse,
                          bool powerCut = false, bool inMemory = false);
    ~FaultBackend() override;
    FaultBackend(const FaultBackend&) = delete;
    FaultBackend& operator=(const FaultBackend&) = delete;

    std::uint64_t changes() const { return changes_; } // counted, made or not
    bool crashed() const { return changes_ > crashAt_; }
    std::uint64_t flushes() const { return flushes_; }

    // Which of a file's changes since its last flush survive the power cut: called with the
    // file's path, the change's place among them and their number.
    using Keep = std::function<bool(const std::string& path, std::size_t change, std::size_t count)>;
    static Keep loseAll();
    // Every change of the files whose name ends in suffix survives, none of the others.
    static Keep keepOnly(std::string suffix);
    // The first n changes of the files whose name ends in suffix survive, all of the others.
    static Keep tornAt(std::string suffix, std::size_t n);

    // After every engine handle is closed and the back end no longer installed: writes each
    // file it saw as the last flush left it, plus the changes since that keep chooses. A file
    // created and never flushed is gone unless keep keeps its changes (it then holds them).
    void cutPower(const Keep& keep);
    // What a file it changed holds on its disk (nothing: the file is not there).
    std::optional<std::string> image(const std::string& path);
    // The files whose bytes on the disk it changed (or that it made or removed), cutPower's
    // included.
    const std::set<std::string>& touched() const { return touched_; }
    // The paths it saw and, per path, the number of changes not yet flushed.
    std::map<std::string, std::size_t> unflushed() const;

    engine::os::Status open(engine::os::File& f, const std::string& path, bool writable) override;
    engine::os::Status create(engine::os::File& f, const std::string& path, bool mustBeNew) override;
    void close(engine::os::File& f) override;
    engine::os::Status read(engine::os::File& f, std::uint64_t offset, void* data, std::size_t len,
                            std::size_t& got) override;
    engine::os::Status write(engine::os::File& f, std::uint64_t offset, const void* data,
                             std::size_t len) override;
    engine::os::Status size(engine::os::File& f, std::uint64_t& out) override;
    engine::os::Status truncate(engine::os::File& f, std::uint64_t length) override;
    engine::os::Status flush(engine::os::File& f) override;
    engine::os::Status lock(engine::os::File& f, std::uint64_t offset, std::uint64_t length,
                            bool exclusive) override;
    engine::os::Status unlock(engine::os::File& f, std::uint64_t offset, std::uint64_t length) override;
    engine::os::Status removeFile(const std::string& path) override;

  private:
    struct Change {
        bool truncate = false;
        std::uint64_t offset = 0; // the length, for a truncation
        std::string bytes;
    };
    // One file, as all handles on it see it.
    struct PathState {
        bool loaded = false; // in memory: the disk's copy below is taken
        bool memExists = false;
        std::string mem;
        bool known = false;         // seen by a power-cut back end
        bool durableExists = false; // the file as the last flush left it
        std::string durable;
        std::vector<Change> pending; // made since then
        bool shadowed = false;       // changes after the crash kept in memory
        bool shadowExists = false;
        std::string shadow;
    };
    struct Open {
        std::string path;
        bool phantom = false; // created after the crash: only in memory
    };

    bool takeChange(); // counts a change; false from the crash point on
    engine::os::Status change(engine::os::File& f, Change c);
    // The disk, in memory or not.
    bool diskExists(const std::string& p);
    std::string diskRead(const std::string& p);
    void diskPut(const std::string& p, bool exists, const std::string& bytes);
    Open* find(engine::os::File& f);
    PathState& path(const std::string& p);
    void startShadow(PathState& ps, engine::os::File* f, const std::string& p);
    static void apply(std::string& image, const Change& c);

    std::uint64_t crashAt_;
    CrashMode mode_;
    bool powerCut_;
    bool inMemory_;
    std::uint64_t changes_ = 0;
    std::uint64_t flushes_ = 0;
    std::intptr_t nextPhantom_ = -1000;
    std::map<std::intptr_t, Open> open_;
    std::map<std::string, PathState> paths_;
    std::set<std::string> touched_;
};

} // namespace enginetest

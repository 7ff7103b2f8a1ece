// A test back end of the engine's operating-system layer that forces races between two
// handles: one runs on a side thread and is stopped at a chosen lock, unlock or write, while
// the test's own thread runs the other handle; then the side goes on. Only one of the two
// threads runs at any time, each handing over to the other at fixed points, so every run
// takes the same course.
//
// When the test's thread waits for a lock (the engine sleeps between tries) while the side is
// stopped, the side runs on until its next stop or its end, as the other process would; the
// waiting thread then tries again. When the side waits for a lock the test's thread holds,
// there is no one to give way to: its waits end at once and it gets the refusal it would get
// after waiting. No one ever sleeps.
#pragma once

#include "engine/os.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace enginetest {

class Interleave final : public engine::os::Backend {
  public:
    // A point where the side may be stopped: before a lock, an unlock or a write.
    struct Point {
        enum class Kind { lock, unlock, write } kind = Kind::write;
        std::string path;
        std::uint64_t offset = 0;
        std::uint64_t length = 0;
        bool exclusive = false; // locks
        std::size_t number = 0; // the side's points so far, this one excepted
    };
    // Answers true to stop the side before the point's operation.
    using Stop = std::function<bool(const Point&)>;

    Interleave();
    // Lets a side still stopped run to its end.
    ~Interleave() override;
    Interleave(const Interleave&) = delete;
    Interleave& operator=(const Interleave&) = delete;

    // Runs fn on the side thread until it stops (stop answered true) or ends.
    void start(std::function<void()> fn, Stop stop);
    // Lets the stopped side go on until the next stop (a new stop test, or none: to its end).
    void resume(Stop stop = {});
    bool sideStopped() const { return stopped_; }
    bool sideDone() const { return done_; }
    // The point the side is stopped before.
    const Point& stoppedAt() const { return at_; }
    // The points the side has passed (the one it is stopped before excepted).
    std::size_t sidePoints() const { return points_; }
    // Stops at the point whose number is n.
    static Stop atPoint(std::size_t n);
    // Stops before the first lock or unlock of this byte of a file whose name ends in suffix.
    static Stop atLock(std::string suffix, std::uint64_t offset, bool unlock = false);

    engine::os::Status write(engine::os::File& f, std::uint64_t offset, const void* data,
                             std::size_t len) override;
    engine::os::Status lock(engine::os::File& f, std::uint64_t offset, std::uint64_t length,
                            bool exclusive) override;
    engine::os::Status unlock(engine::os::File& f, std::uint64_t offset, std::uint64_t length) override;
    engine::os::Status open(engine::os::File& f, const std::string& path, bool writable) override;
    engine::os::Status create(engine::os::File& f, const std::string& path, bool mustBeNew) override;
    void close(engine::os::File& f) override;
    void sleepMs(unsigned ms) override;

  private:
    enum class Turn { test, side };
    bool onSide() const { return std::this_thread::get_id() == sideId_; }
    void point(Point p);
    void runSide(); // from the test's thread: hands over and waits for the side to stop or end
    std::string pathOf(engine::os::File& f) const;

    std::mutex m_;
    std::condition_variable cv_;
    Turn turn_ = Turn::test;
    std::thread side_;
    std::thread::id sideId_;
    Stop stop_;
    bool stopped_ = false;
    bool done_ = true;
    std::size_t points_ = 0;
    Point at_;
    std::vector<std::pair<std::intptr_t, std::string>> paths_;
};

} // namespace enginetest

#include "interleave_os.h"

#include <algorithm>

namespace enginetest {

using engine::os::File;
using engine::os::Status;

Interleave::Interleave() {
    engine::os::install(this);
}

Interleave::~Interleave() {
    while (!done_) resume();
    if (side_.joinable()) side_.join();
    if (engine::os::installed() == this) engine::os::install(nullptr);
}

Interleave::Stop Interleave::atPoint(std::size_t n) {
    return [n](const Point& p) { return p.number == n; };
}

Interleave::Stop Interleave::atLock(std::string suffix, std::uint64_t offset, bool unlock) {
    return [suffix, offset, unlock](const Point& p) {
        const bool named = p.path.size() >= suffix.size() &&
                           p.path.compare(p.path.size() - suffix.size(), suffix.size(), suffix) == 0;
        return named && p.offset == offset && p.kind == (unlock ? Point::Kind::unlock : Point::Kind::lock);
    };
}

void Interleave::start(std::function<void()> fn, Stop stop) {
    if (side_.joinable()) {
        while (!done_) resume();
        side_.join();
    }
    stop_ = std::move(stop);
    done_ = false;
    stopped_ = false;
    points_ = 0;
    {
        std::unique_lock<std::mutex> lock(m_);
        turn_ = Turn::side;
        side_ = std::thread([this, fn = std::move(fn)] {
            {
                std::unique_lock<std::mutex> l(m_);
                cv_.wait(l, [this] { return turn_ == Turn::side; });
            }
            fn();
            std::unique_lock<std::mutex> l(m_);
            done_ = true;
            stopped_ = false;
            turn_ = Turn::test;
            cv_.notify_all();
        });
        sideId_ = side_.get_id();
        cv_.notify_all();
        cv_.wait(lock, [this] { return turn_ == Turn::test; });
    }
}

void Interleave::resume(Stop stop) {
    if (done_) return;
    stop_ = std::move(stop);
    runSide();
}

void Interleave::runSide() {
    std::unique_lock<std::mutex> lock(m_);
    turn_ = Turn::side;
    cv_.notify_all();
    cv_.wait(lock, [this] { return turn_ == Turn::test; });
}

void Interleave::point(Point p) {
    if (!onSide()) return;
    p.number = points_;
    if (stop_ && stop_(p)) {
        at_ = p;
        std::unique_lock<std::mutex> lock(m_);
        stopped_ = true;
        turn_ = Turn::test;
        cv_.notify_all();
        cv_.wait(lock, [this] { return turn_ == Turn::side; });
        stopped_ = false;
    }
    ++points_;
}

std::string Interleave::pathOf(File& f) const {
    for (const auto& [h, p] : paths_)
        if (h == handleOf(f)) return p;
    return {};
}

Status Interleave::open(File& f, const std::string& path, bool writable) {
    Status s = Backend::open(f, path, writable);
    if (s == Status::ok) paths_.emplace_back(handleOf(f), path);
    return s;
}

Status Interleave::create(File& f, const std::string& path, bool mustBeNew) {
    Status s = Backend::create(f, path, mustBeNew);
    if (s == Status::ok) paths_.emplace_back(handleOf(f), path);
    return s;
}

void Interleave::close(File& f) {
    const std::intptr_t h = handleOf(f);
    paths_.erase(std::remove_if(paths_.begin(), paths_.end(), [h](const auto& e) { return e.first == h; }),
                 paths_.end());
    Backend::close(f);
}

Status Interleave::write(File& f, std::uint64_t offset, const void* data, std::size_t len) {
    point(Point{Point::Kind::write, pathOf(f), offset, len, false, 0});
    return Backend::write(f, offset, data, len);
}

Status Interleave::lock(File& f, std::uint64_t offset, std::uint64_t length, bool exclusive) {
    point(Point{Point::Kind::lock, pathOf(f), offset, length, exclusive, 0});
    return Backend::lock(f, offset, length, exclusive);
}

Status Interleave::unlock(File& f, std::uint64_t offset, std::uint64_t length) {
    point(Point{Point::Kind::unlock, pathOf(f), offset, length, false, 0});
    return Backend::unlock(f, offset, length);
}

void Interleave::sleepMs(unsigned) {
    // The test's thread waits for what the stopped side holds: the side goes on.
    if (!onSide() && stopped_ && !done_) runSide();
}

} // namespace enginetest

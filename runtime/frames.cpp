#include "frames.h"

namespace rt {

namespace {
Frame* g_top = nullptr;
std::int64_t g_statics = 0;
}  // namespace

Frame::Frame(std::string_view name, std::initializer_list<const Value*> params, int line)
    : name_(name), line_(line), params_(params), outer_(g_top) {
    g_top = this;
}

Frame::Frame(std::string_view name, Args params, int line)
    : name_(name), line_(line), ownedParams_(params.begin(), params.end()), outer_(g_top) {
    params_.reserve(ownedParams_.size());
    for (const Value& v : ownedParams_) params_.push_back(&v);
    g_top = this;
}

Frame::~Frame() { g_top = outer_; }

Value Frame::paramAt(std::size_t i) const {
    return i >= 1 && i <= params_.size() ? *params_[i - 1] : Value{};
}

Value Frame::localAt(std::size_t i) const {
    return i >= 1 && i <= locals_.size() ? *locals_[i - 1] : Value{};
}

Frame* Frame::top() { return g_top; }

Frame* Frame::at(std::int64_t level) {
    if (level < 0) return nullptr;
    Frame* f = g_top;
    while (f && level-- > 0) f = f->outer_;
    return f;
}

std::size_t Frame::depth() {
    std::size_t n = 0;
    for (Frame* f = g_top; f; f = f->outer_) ++n;
    return n;
}

void setCurrentLine(int line) {
    if (g_top) g_top->setLine(line);
}

std::string PROCNAME(std::int64_t level) {
    const Frame* f = Frame::at(level);
    return f ? std::string(f->name()) : std::string();
}

std::int64_t PROCLINE(std::int64_t level) {
    const Frame* f = Frame::at(level);
    return f ? f->line() : 0;
}

std::int64_t PARAMCOUNT(std::int64_t level) {
    const Frame* f = Frame::at(level);
    return f ? static_cast<std::int64_t>(f->paramCount()) : 0;
}

Value GETPARAM(std::int64_t level, std::int64_t i) {
    const Frame* f = Frame::at(level);
    return f && i > 0 ? f->paramAt(static_cast<std::size_t>(i)) : Value{};
}

std::int64_t LOCALCOUNT(std::int64_t level) {
    const Frame* f = Frame::at(level);
    return f ? static_cast<std::int64_t>(f->localCount()) : 0;
}

Value GETLOCAL(std::int64_t level, std::int64_t i) {
    const Frame* f = Frame::at(level);
    return f && i > 0 ? f->localAt(static_cast<std::size_t>(i)) : Value{};
}

StaticsDeclaration::StaticsDeclaration(int count) { g_statics += count; }

std::int64_t NSTATICS() { return g_statics; }

}  // namespace rt

// Call frames: the runtime's own record of the routines that are running, for PROCNAME,
// PROCLINE and the error report's stack and variables sections.
//
// A routine that should appear on the stack opens a Frame on entry. It registers its
// parameters and locals (pointers to live values, so readers see the current values) and
// marks its current source line with RT_LINE() before statements that call further.
#pragma once

#include "value.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rt {

class Frame {
public:
    // name must outlive the frame ("MAIN", "TDIALOG:ACTIVATE", a block's "(b)MAIN").
    Frame(std::string_view name, std::initializer_list<const Value*> params = {}, int line = 0);
    Frame(std::string_view name, Args params, int line = 0);  // block parameters
    ~Frame();
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    void param(const Value& v) { params_.push_back(&v); }
    void local(const Value& v) { locals_.push_back(&v); }
    template <class... V>
    void locals(const V&... v) {
        (locals_.push_back(&v), ...);
    }
    void setLine(int line) { line_ = line; }

    std::string_view name() const { return name_; }
    int line() const { return line_; }
    std::size_t paramCount() const { return params_.size(); }
    std::size_t localCount() const { return locals_.size(); }
    Value paramAt(std::size_t i) const;  // 1-based
    Value localAt(std::size_t i) const;  // 1-based

    // The innermost frame, or null.
    static Frame* top();
    // The frame n levels above the innermost one (0 = innermost), or null.
    static Frame* at(std::int64_t level);
    static std::size_t depth();

private:
    std::string_view name_;
    int line_;
    std::vector<const Value*> params_;
    std::vector<const Value*> locals_;
    std::vector<Value> ownedParams_;  // copies for block parameters
    Frame* outer_;
};

// Sets the current line of the innermost frame to the line where it stands.
#define RT_LINE() ::rt::setCurrentLine(__LINE__)
void setCurrentLine(int line);

// Level 0 is the routine that calls PROCNAME / PROCLINE itself.
std::string PROCNAME(std::int64_t level = 0);
std::int64_t PROCLINE(std::int64_t level = 0);
std::int64_t PARAMCOUNT(std::int64_t level);
Value GETPARAM(std::int64_t level, std::int64_t i);
std::int64_t LOCALCOUNT(std::int64_t level);
Value GETLOCAL(std::int64_t level, std::int64_t i);

// Static variables: each module declares how many it keeps, once, at static initialisation.
struct StaticsDeclaration {
    explicit StaticsDeclaration(int count);
};
std::int64_t NSTATICS();

}  // namespace rt

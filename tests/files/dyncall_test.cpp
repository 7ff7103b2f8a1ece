// Dynamic calls into calltarget.dll (a library of our own, Windows builds only): routines of
// both calling conventions with every arity the call layer passes, floating-point numbers among
// the arguments and as results. A call must leave the caller's stack as it found it whichever
// convention the routine follows, so each routine notes its frame address and a repeated call
// from the same place must find the same frame.

#include "files/dyncall.h"
#include "files/os.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace files;

namespace {

std::intptr_t library() {
    static const std::intptr_t handle = os::loadLibrary("calltarget.dll");
    return handle;
}

// The descriptor, built by hand for argument lists longer than a literal list is worth writing.
std::string descriptor(const std::string& routine, bool calleeCleans, std::uint8_t result,
                       const std::vector<std::uint8_t>& types) {
    const std::uintptr_t address = os::findRoutine(library(), routine);
    if (address == 0) return {};
    std::string d(kDescriptorAddressSize, '\0');
    std::memcpy(d.data(), &address, kDescriptorAddressSize);
    d += static_cast<char>(calleeCleans ? 1 : 0);
    d += static_cast<char>(result);
    d += static_cast<char>(types.size());
    for (std::uint8_t t : types) d += static_cast<char>(t);
    return d;
}

void* lastFrame() {
    using Fn = void* (*)();
    return reinterpret_cast<Fn>(os::findRoutine(library(), "lastFrame"))();
}

std::int32_t hashOf(const std::vector<rt::Value>& xs) {
    std::uint32_t h = 1;
    for (const rt::Value& x : xs) h = 17 * h + static_cast<std::uint32_t>(x.asInteger());
    return static_cast<std::int32_t>(h);
}

double weighted(const std::vector<rt::Value>& xs) {
    double sum = 0, weight = 1;
    for (const rt::Value& x : xs) sum += weight++ * x.asNumber();
    return sum;
}

// Calls the routine twice and once more with the convention flag the other way round: each
// call answers the same and finds its frame where the first one did.
void callThrice(const std::string& routine, bool calleeCleans, std::uint8_t result,
                const std::vector<std::uint8_t>& types, std::vector<rt::Value> args,
                const rt::Value& expected) {
    SCOPED_TRACE(routine);
    const std::string right = descriptor(routine, calleeCleans, result, types);
    const std::string wrong = descriptor(routine, !calleeCleans, result, types);
    ASSERT_FALSE(right.empty());
    EXPECT_EQ(callDescriptor(right, args), expected);
    void* const frame = lastFrame();
    EXPECT_EQ(callDescriptor(right, args), expected);
    EXPECT_EQ(lastFrame(), frame);
    EXPECT_EQ(callDescriptor(wrong, args), expected);
    EXPECT_EQ(lastFrame(), frame);
}

} // namespace

TEST(DynamicCall, EveryArityOfBothConventions) {
    ASSERT_FALSE(libraryLoadFailed(library()));
    for (std::size_t n = 0; n <= os::kMaxCallArguments; ++n) {
        std::vector<rt::Value> args;
        for (std::size_t i = 0; i < n; ++i)
            args.emplace_back(static_cast<int>((i % 2 ? -1 : 1) * (1000003 * i + 7)));
        const std::vector<std::uint8_t> types(n, 4);
        const rt::Value expected(hashOf(args));
        callThrice("intsStd" + std::to_string(n), true, 4, types, args, expected);
        callThrice("intsCdecl" + std::to_string(n), false, 4, types, args, expected);
    }
}

TEST(DynamicCall, FloatingPointArgumentsAndResults) {
    ASSERT_FALSE(libraryLoadFailed(library()));
    // Integers at the odd places, numbers at the even ones (on 64-bit Windows both kinds meet
    // the register and the stack places; on 32-bit Windows a number takes two stack words). A
    // result left on the FPU stack would spoil the later ones, so every arity is called thrice.
    for (std::size_t n = 0; n <= os::kMaxCallArguments; ++n) {
        std::vector<rt::Value> args;
        std::vector<std::uint8_t> types;
        for (std::size_t i = 0; i < n; ++i) {
            if (i % 2 == 0) {
                args.emplace_back(static_cast<int>(3 * i) - 5);
                types.push_back(4);
            } else {
                args.emplace_back(-0.25 * static_cast<double>(i) + 1e10);
                types.push_back(11);
            }
        }
        const rt::Value expected(weighted(args));
        callThrice("mixedStd" + std::to_string(n), true, 11, types, args, expected);
        callThrice("mixedCdecl" + std::to_string(n), false, 11, types, args, expected);
    }
    // Integers and logicals given for a number are passed as numbers; the result is a number.
    std::vector<rt::Value> args = {7, 2, 1, true};
    const rt::Value answer = callDescriptor(descriptor("mixedStd4", true, 11, {4, 11, 4, 11}), args);
    EXPECT_TRUE(answer.isDouble());
    EXPECT_EQ(answer.asNumber(), 7 + 2 * 2 + 3 * 1 + 4 * 1.0);
    // A descriptor with more arguments than the layer passes calls nothing.
    EXPECT_TRUE(
        callDescriptor(descriptor("intsStd16", true, 4, std::vector<std::uint8_t>(17, 4)), args).isNil());
}

TEST(DynamicCall, ReferencesStringsAndNarrowResults) {
    ASSERT_FALSE(libraryLoadFailed(library()));
    std::vector<rt::Value> args = {37, "abc"};
    // By reference the integer and the buffer come back changed; a string passed by value keeps
    // its own copy.
    EXPECT_EQ(callDescriptor(descriptor("fill", true, 4, {7, 8}), args, 0b01), rt::Value(70003));
    EXPECT_EQ(args[0], rt::Value(42));
    EXPECT_EQ(args[1], rt::Value("abc"));
    EXPECT_EQ(callDescriptor(descriptor("fill", true, 4, {10, 9}), args, 0b11), rt::Value(70003));
    EXPECT_EQ(args[0], rt::Value(47));
    EXPECT_EQ(args[1], rt::Value("ABC"));
    // A 16-bit result keeps the low 16 bits; a logical one is true for any non-zero answer.
    EXPECT_EQ(callDescriptor(descriptor("fill", true, 1, {12, 8}), args, 0b01), rt::Value(70003 - 65536));
    EXPECT_EQ(callDescriptor(descriptor("fill", true, 5, {12, 8}), args, 0b01), rt::Value(true));
    EXPECT_TRUE(callDescriptor(descriptor("fill", true, 6, {12, 8}), args, 0b01).isNil());
    EXPECT_EQ(args[0], rt::Value(62));
    std::vector<rt::Value> none;
    EXPECT_EQ(callDescriptor(descriptor("greeting", false, 8, {}), none), rt::Value("hola"));
}

// The process's last words: an unrecoverable error or an exception that nothing caught ends the
// process with exit code 1 and its line, without allocating (memory may be what ran out), also
// when a second exception comes while the first one ends the process. This program counts the
// allocations made while a test watches (its own operator new stands in for the library's).
#include "runtime/runtime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace {
bool g_watching = false;
int g_allocations = 0;
} // namespace

namespace {
// Out of line, so that the compiler does not pair the replaced operators with malloc and free.
[[gnu::noinline]] void* acquire(std::size_t size) {
    if (g_watching) ++g_allocations;
    return std::malloc(size ? size : 1);
}
[[gnu::noinline]] void release(void* p) {
    std::free(p);
}
} // namespace

void* operator new(std::size_t size) {
    if (void* p = acquire(size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    release(p);
}

using namespace rt;

namespace {

struct ProcessExit {
    int code;
};
[[noreturn]] void throwingExit(int code) {
    throw ProcessExit{code};
}

// The error output, kept without allocating.
char g_output[4096];
std::size_t g_outputSize = 0;
void keepOutput(std::string_view text) {
    const std::size_t n = std::min(text.size(), sizeof g_output - g_outputSize);
    std::memcpy(g_output + g_outputSize, text.data(), n);
    g_outputSize += n;
}
std::string output() {
    return std::string(g_output, g_outputSize);
}

class Fatal : public ::testing::Test {
  protected:
    void SetUp() override {
        setExitFunction(throwingExit);
        setErrorOutput(keepOutput);
        g_outputSize = 0;
        g_allocations = 0;
    }
    void TearDown() override {
        g_watching = false;
        for (int hook : hookHandles) removeShutdownHook(hook);
        setExitFunction(nullptr);
        setErrorOutput(nullptr);
        ERRORLEVEL(0);
    }
    // Runs fn with the allocations watched; the exit code it ended the process with.
    static int watched(void (*fn)()) {
        g_watching = true;
        try {
            fn();
        } catch (const ProcessExit& e) {
            g_watching = false;
            return e.code;
        }
        g_watching = false;
        return -1;
    }
    std::vector<int> hookHandles;
};

} // namespace

TEST_F(Fatal, AnUnrecoverableErrorAllocatesNothing) {
    const Value arg = "x";
    Frame outer("MAIN", {&arg});
    outer.setLine(7);
    Frame inner("REVAYUDA");
    inner.setLine(-12);
    EXPECT_EQ(watched([] { unrecoverable(9010, "Memory low"); }), 1);
    EXPECT_EQ(g_allocations, 0);
    EXPECT_EQ(output(),
              "\nUnrecoverable error 9010: Memory low\nCalled from REVAYUDA(-12)\nCalled from MAIN(7)\n");
}

TEST_F(Fatal, AnExceptionThatLeftTheProgramIsNamed) {
    EXPECT_EQ(watched([] {
                  try {
                      throw std::runtime_error("lost");
                  } catch (...) {
                      exceptionLeft("the program");
                  }
              }),
              1);
    EXPECT_EQ(g_allocations, 1); // the exception's own text, made by the throw
    EXPECT_EQ(output(), "\nUnrecoverable error 9010: Exception left the program: lost\n");
    g_outputSize = 0;
    g_allocations = 0;
    EXPECT_EQ(watched([] {
                  try {
                      throw 42;
                  } catch (...) {
                      exceptionLeft("a window procedure");
                  }
              }),
              1);
    EXPECT_EQ(g_allocations, 0);
    EXPECT_EQ(output(), "\nUnrecoverable error 9010: Exception left a window procedure\n");
}

// A second exception while the first one ends the process: from a shutdown hook (closing the
// tables), and an unrecoverable error raised inside one. Exit code 1 and a line each time.
TEST_F(Fatal, ASecondExceptionWhileEndingStillEndsWithOne) {
    hookHandles.push_back(addShutdownHook([] { throw std::runtime_error("close failed"); }));
    hookHandles.push_back(addShutdownHook([] { unrecoverable(9004, "RDD invalid or failed to load"); }));
    EXPECT_EQ(watched([] { unrecoverable(9002, "No ERRORBLOCK() for error"); }), 1);
    EXPECT_EQ(output(), "\nUnrecoverable error 9002: No ERRORBLOCK() for error\n"
                        "\nUnrecoverable error 9004: RDD invalid or failed to load\n");

    // An orderly end whose hook throws: not a success.
    for (int hook : hookHandles) removeShutdownHook(hook);
    hookHandles = {addShutdownHook([] { throw 7; })};
    g_outputSize = 0;
    EXPECT_EQ(watched([] { shutdownAndExit(0); }), 1);
    EXPECT_EQ(output(), "\nUnrecoverable error 9010: Exception left the shutdown\n");
}

namespace {
void throwsBoom() {
    throw std::logic_error("boom");
}
void leaveNoexcept() noexcept {
    throwsBoom();
}
} // namespace

TEST(FatalDeath, AnExceptionNothingCatchesEndsWithOneAndItsLine) {
    EXPECT_EXIT(
        {
            setErrorOutput([](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); });
            installTerminateHandler();
            leaveNoexcept();
        },
        ::testing::ExitedWithCode(1), "Unrecoverable error 9010: Exception left the program: boom");
}

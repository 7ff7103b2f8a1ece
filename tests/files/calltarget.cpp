// calltarget.dll: routines for the dynamic call tests, in both calling conventions of 32-bit
// Windows and with every arity the call layer passes. Each routine notes its own frame address,
// so a test can see that the caller's stack pointer is the same before and after a call.
//
//   int32  intsStdN(int32 x1, ..., int32 xN)      __stdcall; 17 * h + x over the arguments
//   int32  intsCdeclN(...)                        __cdecl; the same
//   double mixedStdN(int32 x1, double x2, ...)    __stdcall; the sum of i * xi, integers at the
//   double mixedCdeclN(...)                       odd and numbers at the even places; __cdecl
//   int32  fill(int32* n, char* text)             __stdcall; adds 5 to n, upper-cases text in
//                                                 place, answers 70000 + its length
//   const char* greeting()                        __cdecl; "hola"
//   void*  lastFrame()                            __cdecl; the frame of the last routine above

#include <cstdint>
#include <cstring>
#include <initializer_list>

namespace {

void* frame = nullptr;

std::int32_t hashOf(std::initializer_list<std::int32_t> xs) {
    std::uint32_t h = 1;
    for (std::int32_t x : xs) h = 17 * h + static_cast<std::uint32_t>(x);
    return static_cast<std::int32_t>(h);
}

double weighted(std::initializer_list<double> xs) {
    double sum = 0, weight = 1;
    for (double x : xs) sum += weight++ * x;
    return sum;
}

} // namespace

// LISTn(X, Y): X(1), Y(2), X(3), ... up to n.
#define LIST0(X, Y)
#define LIST1(X, Y) X(1)
#define LIST2(X, Y) LIST1(X, Y), Y(2)
#define LIST3(X, Y) LIST2(X, Y), X(3)
#define LIST4(X, Y) LIST3(X, Y), Y(4)
#define LIST5(X, Y) LIST4(X, Y), X(5)
#define LIST6(X, Y) LIST5(X, Y), Y(6)
#define LIST7(X, Y) LIST6(X, Y), X(7)
#define LIST8(X, Y) LIST7(X, Y), Y(8)
#define LIST9(X, Y) LIST8(X, Y), X(9)
#define LIST10(X, Y) LIST9(X, Y), Y(10)
#define LIST11(X, Y) LIST10(X, Y), X(11)
#define LIST12(X, Y) LIST11(X, Y), Y(12)
#define LIST13(X, Y) LIST12(X, Y), X(13)
#define LIST14(X, Y) LIST13(X, Y), Y(14)
#define LIST15(X, Y) LIST14(X, Y), X(15)
#define LIST16(X, Y) LIST15(X, Y), Y(16)

#define INT(i) std::int32_t x##i
#define DOUBLE(i) double x##i
#define NAME(i) x##i
#define AS_DOUBLE(i) static_cast<double>(x##i)

#define ROUTINES(n)                                                                                          \
    extern "C" __declspec(dllexport) std::int32_t __stdcall intsStd##n(LIST##n(INT, INT)) {                  \
        frame = __builtin_frame_address(0);                                                                  \
        return hashOf({LIST##n(NAME, NAME)});                                                                \
    }                                                                                                        \
    extern "C" __declspec(dllexport) std::int32_t __cdecl intsCdecl##n(LIST##n(INT, INT)) {                  \
        frame = __builtin_frame_address(0);                                                                  \
        return hashOf({LIST##n(NAME, NAME)});                                                                \
    }                                                                                                        \
    extern "C" __declspec(dllexport) double __stdcall mixedStd##n(LIST##n(INT, DOUBLE)) {                    \
        frame = __builtin_frame_address(0);                                                                  \
        return weighted({LIST##n(AS_DOUBLE, AS_DOUBLE)});                                                    \
    }                                                                                                        \
    extern "C" __declspec(dllexport) double __cdecl mixedCdecl##n(LIST##n(INT, DOUBLE)) {                    \
        frame = __builtin_frame_address(0);                                                                  \
        return weighted({LIST##n(AS_DOUBLE, AS_DOUBLE)});                                                    \
    }

ROUTINES(0)
ROUTINES(1)
ROUTINES(2)
ROUTINES(3)
ROUTINES(4)
ROUTINES(5)
ROUTINES(6)
ROUTINES(7)
ROUTINES(8)
ROUTINES(9)
ROUTINES(10)
ROUTINES(11)
ROUTINES(12)
ROUTINES(13)
ROUTINES(14)
ROUTINES(15)
ROUTINES(16)

extern "C" __declspec(dllexport) std::int32_t __stdcall fill(std::int32_t* n, char* text) {
    frame = __builtin_frame_address(0);
    *n += 5;
    for (char* c = text; *c; ++c)
        if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
    return 70000 + static_cast<std::int32_t>(std::strlen(text));
}

extern "C" __declspec(dllexport) const char* __cdecl greeting() {
    return "hola";
}

extern "C" __declspec(dllexport) void* __cdecl lastFrame() {
    return frame;
}

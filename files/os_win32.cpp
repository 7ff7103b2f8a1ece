// The Win32 back end of the file services: paths go to the platform's ANSI routines as they
// are.

#include "os.h"

#include <array>
#include <utility>

#include <windows.h>

namespace files {

namespace {

os::LocalTime localTimeOf(const FILETIME& utc) {
    os::LocalTime out;
    SYSTEMTIME universal, local;
    if (!FileTimeToSystemTime(&utc, &universal)) return out;
    // The offset in force on that date (daylight saving included), not today's.
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) return out;
    out.year = local.wYear;
    out.month = local.wMonth;
    out.day = local.wDay;
    out.hour = local.wHour;
    out.minute = local.wMinute;
    out.second = local.wSecond;
    out.valid = true;
    return out;
}

// The platform's routines take NUL-terminated names: a name with a NUL inside names nothing.
bool usable(std::string_view path) {
    return !path.empty() && path.find('\0') == std::string_view::npos;
}

// The dynamic call: one small routine, written in assembly so that the compiler cannot merge
// or reorder the two calling conventions of 32-bit Windows. It copies the argument words to a
// fresh, 16-byte aligned stack area, calls the routine and then sets the stack pointer back
// from a callee-saved register, so the stack is right whether the routine removed its
// arguments (__stdcall) or left them (__cdecl).
//   words: 32-bit Windows, one word per integer and two (low first) per floating-point number;
//          64-bit Windows, one 8-byte slot per argument, at least four slots.
//   floating: where the routine's floating-point result goes; null when it answers none (on
//          32-bit Windows that result sits on the FPU stack and must be popped only then).
// Answers the integer result registers (EDX:EAX on 32-bit, RAX on 64-bit).
#if defined(__i386__)
extern "C" std::uint64_t callThunk(std::uintptr_t address, const std::uint32_t* words, std::size_t count,
                                   double* floating) __asm__("instayuda_call_thunk");
__asm__(".text\n"
        ".globl instayuda_call_thunk\n"
        "instayuda_call_thunk:\n"
        "    pushl %ebp\n"
        "    movl %esp, %ebp\n"
        "    pushl %esi\n"
        "    pushl %edi\n"
        "    movl 16(%ebp), %ecx\n"
        "    movl 12(%ebp), %esi\n"
        "    leal 0(,%ecx,4), %eax\n"
        "    subl %eax, %esp\n"
        "    andl $-16, %esp\n"
        "    movl %esp, %edi\n"
        "    cld\n"
        "    rep movsl\n"
        "    call *8(%ebp)\n"
        "    leal -8(%ebp), %esp\n" // whatever the routine removed
        "    movl 20(%ebp), %ecx\n"
        "    testl %ecx, %ecx\n"
        "    jz 1f\n"
        "    fstpl (%ecx)\n"
        "1:\n"
        "    popl %edi\n"
        "    popl %esi\n"
        "    popl %ebp\n"
        "    ret\n");
using Slot = std::uint32_t;
constexpr std::size_t kSlots = 2 * os::kMaxCallArguments;
#elif defined(__x86_64__)
// The first four slots go to RCX, RDX, R8, R9 and to XMM0 to XMM3 alike (the routine reads the
// register its argument's type uses), and stay on the stack as the routine's home area; the
// others follow on the stack. The unwind information names RBP as the frame register.
extern "C" std::uint64_t callThunk(std::uintptr_t address, const std::uint64_t* words, std::size_t count,
                                   double* floating) __asm__("instayuda_call_thunk");
__asm__(".text\n"
        ".globl instayuda_call_thunk\n"
        ".seh_proc instayuda_call_thunk\n"
        "instayuda_call_thunk:\n"
        "    pushq %rbp\n"
        "    .seh_pushreg %rbp\n"
        "    pushq %rsi\n"
        "    .seh_pushreg %rsi\n"
        "    pushq %rdi\n"
        "    .seh_pushreg %rdi\n"
        "    pushq %rbx\n"
        "    .seh_pushreg %rbx\n"
        "    movq %rsp, %rbp\n"
        "    .seh_setframe %rbp, 0\n"
        "    .seh_endprologue\n"
        "    movq %r9, %rbx\n"
        "    movq %rcx, %rax\n"
        "    movq %rdx, %rsi\n"
        "    movq %r8, %rcx\n"
        "    leaq 0(,%rcx,8), %rdx\n"
        "    subq %rdx, %rsp\n"
        "    andq $-16, %rsp\n"
        "    movq %rsp, %rdi\n"
        "    cld\n"
        "    rep movsq\n"
        "    movq (%rsp), %rcx\n"
        "    movq 8(%rsp), %rdx\n"
        "    movq 16(%rsp), %r8\n"
        "    movq 24(%rsp), %r9\n"
        "    movq %rcx, %xmm0\n"
        "    movq %rdx, %xmm1\n"
        "    movq %r8, %xmm2\n"
        "    movq %r9, %xmm3\n"
        "    call *%rax\n"
        "    testq %rbx, %rbx\n"
        "    jz 1f\n"
        "    movsd %xmm0, (%rbx)\n"
        "1:\n"
        "    leaq 0(%rbp), %rsp\n"
        "    popq %rbx\n"
        "    popq %rdi\n"
        "    popq %rsi\n"
        "    popq %rbp\n"
        "    ret\n"
        ".seh_endproc\n");
using Slot = std::uint64_t;
constexpr std::size_t kSlots = os::kMaxCallArguments < 4 ? 4 : os::kMaxCallArguments;
#else
#error "dynamic calls: unsupported processor"
#endif

} // namespace

bool mapDrive(char, std::string_view) {
    return false;
}

namespace os {

void findFiles(std::string_view mask, const std::function<bool(const FindEntry&)>& visit) {
    if (!usable(mask)) return;
    const std::string name(mask);
    WIN32_FIND_DATAA data;
    const HANDLE search = FindFirstFileA(name.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return;
    FindEntry entry;
    do {
        entry.name = data.cFileName;
        entry.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        entry.written = localTimeOf(data.ftLastWriteTime);
        entry.attributes = data.dwFileAttributes;
        if (!visit(entry)) break;
    } while (FindNextFileA(search, &data));
    FindClose(search);
}

std::optional<std::string> volumeLabel(std::string_view mask) {
    std::string root;
    if (mask.size() >= 2 && mask[1] == ':') root = std::string(mask.substr(0, 2)) + "\\";
    char label[MAX_PATH + 1] = {};
    if (!GetVolumeInformationA(root.empty() ? nullptr : root.c_str(), label, sizeof label, nullptr, nullptr,
                               nullptr, nullptr, 0))
        return std::nullopt;
    if (!label[0]) return std::nullopt;
    return std::string(label);
}

bool readWholeFile(std::string_view path, std::string& contents) {
    contents.clear();
    if (!usable(path)) return false;
    const std::string name(path);
    const HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 0 ||
        static_cast<std::uint64_t>(size.QuadPart) > contents.max_size()) {
        ok = false;
    } else {
        try {
            contents.resize(static_cast<std::size_t>(size.QuadPart));
            std::size_t done = 0;
            while (done < contents.size()) {
                const std::size_t left = contents.size() - done;
                const DWORD ask = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
                DWORD got = 0;
                if (!ReadFile(file, contents.data() + done, ask, &got, nullptr)) {
                    ok = false;
                    break;
                }
                if (got == 0) break; // the file shrank meanwhile
                done += got;
            }
            contents.resize(done);
        } catch (const std::exception&) { // too big to hold
            ok = false;
        }
    }
    CloseHandle(file);
    if (!ok) contents.clear();
    return ok;
}

bool createIfMissing(std::string_view path) {
    if (!usable(path)) return false;
    const std::string name(path);
    if (GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    const HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
    CloseHandle(file);
    return true;
}

bool appendToFile(std::string_view path, std::string_view bytes) {
    if (!usable(path)) return false;
    const std::string name(path);
    // Append access: each write lands at the end of the file even when other programs append
    // to it at the same time.
    const HANDLE file = CreateFileA(name.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    for (std::size_t done = 0; done < bytes.size();) {
        const std::size_t left = bytes.size() - done;
        const DWORD ask = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
        DWORD put = 0;
        if (!WriteFile(file, bytes.data() + done, ask, &put, nullptr) || put == 0) {
            ok = false;
            break;
        }
        done += put;
    }
    if (!CloseHandle(file)) ok = false;
    return ok;
}

bool replaceFile(std::string_view from, std::string_view to) {
    if (!usable(from) || !usable(to)) return false;
    return MoveFileExA(std::string(from).c_str(), std::string(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool removeFile(std::string_view path) {
    return usable(path) && DeleteFileA(std::string(path).c_str()) != 0;
}

bool clearReadOnly(std::string_view path) {
    if (!usable(path)) return false;
    const std::string name(path);
    const DWORD attributes = GetFileAttributesA(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (!(attributes & FILE_ATTRIBUTE_READONLY)) return true;
    return SetFileAttributesA(name.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) != 0;
}

bool flushFile(std::string_view path) {
    if (!usable(path)) return false;
    const HANDLE file =
        CreateFileA(std::string(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool flushed = FlushFileBuffers(file) != 0;
    return CloseHandle(file) != 0 && flushed;
}

bool tempFolder(char* buffer, std::size_t size) noexcept {
    if (size == 0 || size > MAXDWORD) return false;
    const DWORD n = GetTempPathA(static_cast<DWORD>(size), buffer);
    return n > 0 && n < size;
}

bool appendRaw(const char* name, const char* bytes, std::size_t size) noexcept {
    const HANDLE file = CreateFileA(name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    for (std::size_t done = 0; done < size;) {
        const std::size_t left = size - done;
        const DWORD ask = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
        DWORD put = 0;
        if (!WriteFile(file, bytes + done, ask, &put, nullptr) || put == 0) {
            ok = false;
            break;
        }
        done += put;
    }
    if (!CloseHandle(file)) ok = false;
    return ok;
}

void quietSystemNotices() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);
}

std::string currentFolder() {
    const DWORD need = GetCurrentDirectoryA(0, nullptr);
    if (need == 0) return {};
    std::string folder(need, '\0');
    const DWORD got = GetCurrentDirectoryA(need, folder.data());
    if (got == 0 || got >= need) return {};
    folder.resize(got);
    return folder;
}

bool setCurrentFolder(std::string_view path) {
    if (!usable(path)) return false;
    const std::string name(path);
    return SetCurrentDirectoryA(name.c_str()) != 0;
}

std::intptr_t loadLibrary(std::string_view name) {
    if (!usable(name)) return 0;
    const std::string library(name);
    return reinterpret_cast<std::intptr_t>(LoadLibraryA(library.c_str()));
}

std::uintptr_t findRoutine(std::intptr_t library, std::string_view name) {
    if (library == 0 || !usable(name)) return 0;
    const std::string routine(name);
    return reinterpret_cast<std::uintptr_t>(
        GetProcAddress(reinterpret_cast<HMODULE>(library), routine.c_str()));
}

bool callRoutine(std::uintptr_t address, bool, std::span<const CallArgument> arguments, bool floatingResult,
                 CallResult& result) {
    // The convention flag is not needed: the thunk restores the stack pointer itself.
    if (arguments.size() > kMaxCallArguments) return false;
    std::array<Slot, kSlots> words{};
    std::size_t count = 0;
    for (const CallArgument& a : arguments) {
        words[count++] = static_cast<Slot>(a.bits);
        if (sizeof(Slot) < sizeof a.bits && a.floating) words[count++] = static_cast<Slot>(a.bits >> 32);
    }
    if (sizeof(Slot) == 8 && count < 4) count = 4; // the four register slots are always loaded
    double floating = 0;
    result.integer = callThunk(address, words.data(), count, floatingResult ? &floating : nullptr);
    result.floating = floating;
    return true;
}

} // namespace os
} // namespace files

// Call descriptors and the dynamic calls built on them: COPYFILE, GETDISKFREESPACEEX.

#include "dyncall.h"
#include "files.h"
#include "os.h"

#include "runtime/ui.h"

#include <bit>
#include <cstring>
#include <vector>

namespace files {

namespace {

constexpr std::size_t kHeaderSize = kDescriptorAddressSize + 3; // address, flag, result type, count

enum TypeCode : std::uint8_t {
    kInt16A = 1,
    kInt16B = 2,
    kInt32A = 3,
    kInt32B = 4,
    kLogical = 5,
    kVoid = 6,
    kRefInt32A = 7,
    kString = 8,
    kStringB = 9,
    kRefInt32B = 10,
    kDouble = 11,
    kRefInt32C = 12,
};

bool supported(std::uint8_t type) {
    return type >= kInt16A && type <= kRefInt32C;
}
bool isString(std::uint8_t type) {
    return type == kString || type == kStringB;
}
bool isRefInteger(std::uint8_t type) {
    return type == kRefInt32A || type == kRefInt32B || type == kRefInt32C;
}

// A value as the integer a routine receives: numbers as they are, logicals as 0 or 1.
std::int64_t integerOf(const rt::Value& v) {
    if (v.isLogical()) return v.asLogical() ? 1 : 0;
    return v.asInteger();
}

// An integer as the machine word the routine receives (sign-extended to the word's width).
std::uint64_t word(std::int64_t n) {
    return static_cast<std::uintptr_t>(static_cast<std::intptr_t>(n));
}

// A value as the floating-point number a routine receives.
double numberOf(const rt::Value& v) {
    if (v.isLogical()) return v.asLogical() ? 1 : 0;
    return v.isNumber() ? v.asNumber() : 0;
}

const char* kLibrary = "Kernel32.dll";

// Loads the system library, alerting the user when that fails.
std::intptr_t loadSystemLibrary(std::string_view library) {
    const std::intptr_t handle = os::loadLibrary(library);
    if (libraryLoadFailed(handle)) {
        rt::showMessage(rt::MessageKind::Alert,
                        "Error code: " + std::to_string(handle) + " loading " + std::string(library));
    }
    return handle;
}

std::int64_t littleEndian64(const std::string& bytes) {
    std::uint64_t n = 0;
    for (std::size_t i = 0; i < 8 && i < bytes.size(); ++i)
        n |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    return static_cast<std::int64_t>(n);
}

} // namespace

bool libraryLoadFailed(std::intptr_t handle) {
    return handle >= -32 && handle <= 32;
}

std::string makeCallDescriptor(std::intptr_t library, std::string_view routine, bool calleeCleans,
                               std::uint8_t resultType, std::initializer_list<std::uint8_t> argumentTypes) {
    const std::uintptr_t address = os::findRoutine(library, routine);
    if (address == 0 || argumentTypes.size() > 255) return {};
    std::string descriptor(kHeaderSize, '\0');
    std::memcpy(descriptor.data(), &address, kDescriptorAddressSize);
    descriptor[kDescriptorAddressSize] = static_cast<char>(calleeCleans ? 1 : 0);
    descriptor[kDescriptorAddressSize + 1] = static_cast<char>(resultType);
    descriptor[kDescriptorAddressSize + 2] = static_cast<char>(argumentTypes.size());
    for (std::uint8_t type : argumentTypes) descriptor += static_cast<char>(type);
    return descriptor;
}

rt::Value callDescriptor(std::string_view descriptor, std::span<rt::Value> arguments,
                         std::uint32_t byReference) {
    if (descriptor.size() < kHeaderSize) return {};
    std::uintptr_t address = 0;
    std::memcpy(&address, descriptor.data(), kDescriptorAddressSize);
    const bool calleeCleans = descriptor[kDescriptorAddressSize] != 0;
    const auto resultType = static_cast<std::uint8_t>(descriptor[kDescriptorAddressSize + 1]);
    const auto count = static_cast<std::uint8_t>(descriptor[kDescriptorAddressSize + 2]);
    if (address == 0 || descriptor.size() != kHeaderSize + count || count > os::kMaxCallArguments) return {};
    if (!supported(resultType)) return {};
    const std::string_view types = descriptor.substr(kHeaderSize);
    for (char t : types)
        if (!supported(static_cast<std::uint8_t>(t))) return {};

    // Storage that outlives the call: string copies (NUL-terminated) and integers passed by
    // reference. Sized up front so that pointers into them stay valid.
    std::vector<std::string> strings(count);
    std::vector<std::int32_t> integers(count, 0);
    std::vector<os::CallArgument> words(count);
    auto byRef = [&](std::size_t i) { return i < 32 && (byReference >> i & 1u) != 0; };
    for (std::size_t i = 0; i < count; ++i) {
        const auto type = static_cast<std::uint8_t>(types[i]);
        const rt::Value value = i < arguments.size() ? arguments[i] : rt::Value();
        if (isString(type)) {
            strings[i] = value.isString() ? value.asString() : std::string();
            words[i].bits = reinterpret_cast<std::uintptr_t>(strings[i].data());
        } else if (isRefInteger(type) && byRef(i)) {
            integers[i] = static_cast<std::int32_t>(integerOf(value));
            words[i].bits = reinterpret_cast<std::uintptr_t>(&integers[i]);
        } else if (type == kInt16A || type == kInt16B) {
            words[i].bits = word(static_cast<std::int16_t>(integerOf(value)));
        } else if (type == kLogical) {
            words[i].bits = value.isLogical() ? (value.asLogical() ? 1 : 0) : (integerOf(value) != 0 ? 1 : 0);
        } else if (type == kDouble) {
            words[i] = {std::bit_cast<std::uint64_t>(numberOf(value)), true};
        } else {
            words[i].bits = word(static_cast<std::int32_t>(integerOf(value)));
        }
    }

    os::CallResult answer;
    if (!os::callRoutine(address, calleeCleans, words, resultType == kDouble, answer)) return {};
    const auto result = static_cast<std::uintptr_t>(answer.integer);

    for (std::size_t i = 0; i < count && i < arguments.size(); ++i) {
        if (!byRef(i)) continue;
        const auto type = static_cast<std::uint8_t>(types[i]);
        if (isString(type))
            arguments[i] = rt::Value(std::move(strings[i]));
        else if (isRefInteger(type))
            arguments[i] = rt::Value(integers[i]);
    }

    switch (resultType) {
    case kInt16A:
    case kInt16B:
        return rt::Value(static_cast<std::int16_t>(result));
    case kLogical:
        return rt::Value(static_cast<std::uint32_t>(result) != 0);
    case kVoid:
        return {};
    case kDouble:
        return rt::Value(answer.floating);
    case kString:
    case kStringB: {
        const char* text = reinterpret_cast<const char*>(result);
        return rt::Value(text ? std::string(text) : std::string());
    }
    default:
        return rt::Value(static_cast<std::int32_t>(result));
    }
}

rt::Value copyFileThrough(std::string_view library, const rt::Value& source, const rt::Value& target,
                          const rt::Value& failIfExists) {
    const std::intptr_t handle = loadSystemLibrary(library);
    if (libraryLoadFailed(handle)) return {};
    // Bound again on every call: the routine removes its own arguments, answers a logical and
    // takes two strings and a 32-bit integer.
    const std::string descriptor =
        makeCallDescriptor(handle, "CopyFileA", true, kLogical, {kStringB, kStringB, kRefInt32A});
    rt::Value arguments[] = {source, target, failIfExists.isNil() ? rt::Value(0) : failIfExists};
    // The library stays loaded: the framework's FREELIBRARY releases only modules of the
    // resource registry, so handing it the system library would leave it loaded all the same.
    return callDescriptor(descriptor, arguments);
}

rt::Value COPYFILE(const rt::Value& source, const rt::Value& target, const rt::Value& failIfExists) {
    return copyFileThrough(kLibrary, source, target, failIfExists);
}

bool GETDISKFREESPACEEX(const rt::Value& folder, rt::Value* free, rt::Value* total, rt::Value* freeToAll) {
    if (free) *free = 0;
    if (total) *total = 0;
    if (freeToAll) *freeToAll = 0;
    const std::intptr_t handle = loadSystemLibrary(kLibrary);
    if (libraryLoadFailed(handle)) return false;
    const std::string descriptor = makeCallDescriptor(handle, "GetDiskFreeSpaceExA", true, kLogical,
                                                      {kStringB, kString, kString, kString});
    // The three 64-bit counts come back in 8-byte buffers passed by reference.
    const std::string buffer(8, '\0');
    rt::Value arguments[] = {folder.isString() && !folder.asString().empty() ? folder
                                                                             : rt::Value(os::currentFolder()),
                             buffer, buffer, buffer};
    const rt::Value ok = callDescriptor(descriptor, arguments, 0b1110);
    if (!ok.asLogical()) return false;
    if (free) *free = littleEndian64(arguments[1].asString());
    if (total) *total = littleEndian64(arguments[2].asString());
    if (freeToAll) *freeToAll = littleEndian64(arguments[3].asString());
    return true;
}

} // namespace files

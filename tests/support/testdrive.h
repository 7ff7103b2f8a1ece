// Test trees on a drive letter of their own, for the file-service and installer tests.
//
// A TestDrive is a fresh, empty host folder that the code under test sees as the root of a
// drive ("T:\"). Natively the POSIX back end's drive table maps the letter; under Wine the
// prefix's dosdevices entry for the letter is pointed at the folder. Tests build their trees
// through the host-side helpers (which do not go through the code under test) and hand the
// Windows-style paths to the routines they test.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace testsupport {

class TestDrive {
  public:
    explicit TestDrive(char letter);
    ~TestDrive();
    TestDrive(const TestDrive&) = delete;
    TestDrive& operator=(const TestDrive&) = delete;

    char letter() const { return letter_; }
    // The Windows-style path of a relative path ("a/b" gives "T:\a\b"; "" gives "T:\").
    std::string path(std::string_view relative = "") const;

    // Host-side tree building; relative paths use "/" between names. Each answers false (and
    // fails the current test) when the host refuses.
    bool folder(std::string_view relative);                            // with its parents
    bool file(std::string_view relative, std::string_view bytes = ""); // folders created as needed
    // A file of size bytes, sparse, whose last bytes are tail.
    bool sparseFile(std::string_view relative, std::uint64_t size, std::string_view tail = "");
    // Empty files prefix + number for each number of [first, first + count) in folder.
    bool manyFiles(std::string_view folder, std::string_view prefix, int first, int count);
    bool exists(std::string_view relative) const;
    std::string read(std::string_view relative) const;
    // Sets the time of the last write, in local time.
    bool setWriteTime(std::string_view relative, int year, int month, int day, int hour, int minute,
                      int second);

    // Marks an entry hidden and/or system. Answers false where the platform keeps no such
    // attributes (the POSIX back end knows hidden only by a leading "." in the name).
    bool setAttributes(std::string_view relative, bool hidden, bool system);

    // The read-only attribute (POSIX: the owner's write permission, as Wine keeps it).
    bool setReadOnly(std::string_view relative, bool readOnly);
    bool readOnly(std::string_view relative) const;

    // The host path of a relative path (for messages).
    std::string hostPath(std::string_view relative) const;

  private:
    char letter_;
    std::string hostRoot_; // native form: "/tmp/instayuda-test-x" or "Z:\tmp\instayuda-test-x"
    std::string unixRoot_; // the same folder as a Unix path
};

// Another process holds a file open allowing no other access while this lives (as a program
// that has opened a table exclusively). held() is false where the platform has no such opens.
class ExclusiveHold {
  public:
    ExclusiveHold(const TestDrive& drive, std::string_view relative);
    ~ExclusiveHold();
    ExclusiveHold(const ExclusiveHold&) = delete;
    ExclusiveHold& operator=(const ExclusiveHold&) = delete;
    bool held() const { return handle_ != 0; }

  private:
    std::uintptr_t handle_ = 0;
};

// Whether the tests run on the Win32 back end.
bool onWindows();

} // namespace testsupport

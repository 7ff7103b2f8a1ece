// hold_file <path> <event>: opens path allowing no other access, signals the named event, and
// keeps the file open until it is ended. Tests use it as "another program that has the table
// open exclusively".

#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const HANDLE file = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    const HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
    if (!ready) return 1;
    SetEvent(ready);
    Sleep(INFINITE);
    return 0;
}

// Paths of any content through the file-name routines and the read-only file services, on a
// drive mapped to a small folder of its own: no crash, no read outside the drive.

#include "files/files.h"
#include "files/os.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string g_root;

void cleanUp() {
    std::error_code ec;
    std::filesystem::remove_all(g_root, ec);
}

bool prepare() {
    char name[] = "/tmp/instayuda-fuzz-XXXXXX";
    if (!::mkdtemp(name)) std::abort();
    const std::string root = name;
    ::mkdir((root + "/Vendrax").c_str(), 0777);
    ::mkdir((root + "/Vendrax/EMP1").c_str(), 0777);
    ::mkdir((root + "/Vendrax/.oculto").c_str(), 0777);
    std::ofstream(root + "/Vendrax/EMP1/norvalew.exe") << "program";
    std::ofstream(root + "/Vendrax/EMP1/versione.dbf") << std::string("2009/1\0\x1A", 8);
    files::mapDrive('T', root);
    g_root = root;
    std::atexit(cleanUp);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = prepare();
    (void)ready;
    const std::string input(reinterpret_cast<const char*>(data), size);
    files::CFILEDISC(input);
    files::CFILEPATH(input);
    files::CFILENOPATH(input);
    files::CFILENOEXT(input);
    files::CFILEEXT(input);
    files::CFILEMASK(input);
    files::CFILESUBDIR(input);
    files::sameFileName(input, "T:\\Vendrax");
    // Only paths on the fuzz drive reach the file system.
    const std::string path = "T:\\" + input;
    const auto listing = files::DIRECTORY(path, input.substr(0, 4));
    for (const auto& entry : listing->items)
        if (!entry.isArray() || entry.asArray()->size() != 5) std::abort();
    files::FILE(path);
    files::MEMOREAD(path);
    files::FSIZE(path);
    files::FTIME(path);
    return 0;
}

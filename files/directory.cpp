// Directory listing and the routines built on it: DIRECTORY, FILE, FSIZE, FDATE, FTIME,
// LISDIR, AFINDFILE.

#include "files.h"
#include "os.h"

#include "runtime/dates.h"
#include "runtime/settings.h"

#include <cstdio>
#include <optional>
#include <vector>

namespace files {

namespace {

// Attribute letters in the order DIRECTORY writes them.
struct Letter {
    char letter;
    std::uint32_t bit;
};
constexpr Letter kLetters[] = {
    {'R', os::kReadOnly},   {'H', os::kHidden},       {'S', os::kSystem},         {'V', os::kVolumeLabel},
    {'D', os::kDirectory},  {'A', os::kArchive},      {'E', os::kEncrypted},      {'T', os::kTemporary},
    {'P', os::kSparse},     {'L', os::kReparsePoint}, {'C', os::kCompressed},     {'O', os::kOffline},
    {'X', os::kNotIndexed}, {'I', os::kIntegrity},    {'M', os::kRecallOnAccess},
};

// The kinds of entry a listing leaves out unless the filter names them.
constexpr std::uint32_t kFilteredKinds = os::kHidden | os::kSystem | os::kDirectory | os::kVolumeLabel;

std::uint32_t filterOf(std::string_view letters) {
    std::uint32_t admitted = 0;
    for (char c : letters) {
        switch (c) {
        case 'H':
        case 'h':
            admitted |= os::kHidden;
            break;
        case 'S':
        case 's':
            admitted |= os::kSystem;
            break;
        case 'D':
        case 'd':
            admitted |= os::kDirectory;
            break;
        case 'V':
        case 'v':
            admitted |= os::kVolumeLabel;
            break;
        default:
            break; // the other kinds are listed anyway
        }
    }
    return admitted;
}

bool admits(std::uint32_t admitted, std::uint32_t attributes) {
    return (attributes & kFilteredKinds & ~admitted) == 0;
}

std::string attributeLetters(std::uint32_t attributes) {
    std::string out;
    for (const Letter& l : kLetters)
        if (attributes & l.bit) out += l.letter;
    return out;
}

std::string timeText(const os::LocalTime& t) {
    if (!t.valid) return "00:00:00";
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour % 100, t.minute % 100, t.second % 100);
    return text;
}

rt::ArrayPtr entryList(const os::FindEntry& e) {
    const rt::Date date =
        e.written.valid ? rt::makeDate(e.written.year, e.written.month, e.written.day) : rt::Date{};
    // The low 32 bits of the size, read as a signed number.
    const auto size = static_cast<std::int32_t>(static_cast<std::uint32_t>(e.size & 0xFFFFFFFFu));
    return rt::makeArray({rt::Value(e.name), rt::Value(e.attributes & os::kDirectory ? 0 : size),
                          rt::Value(date), rt::Value(timeText(e.written)),
                          rt::Value(attributeLetters(e.attributes))});
}

// The first entry the default filter admits.
std::optional<os::FindEntry> firstListed(std::string_view path) {
    std::optional<os::FindEntry> found;
    os::findFiles(path, [&](const os::FindEntry& e) {
        if (!admits(0, e.attributes)) return true;
        found = e;
        return false;
    });
    return found;
}

bool hasFolderPart(std::string_view name) {
    return name.find_first_of("\\/:") != std::string_view::npos;
}

void findIn(std::string_view fileName, const std::string& folder, const rt::ArrayPtr& list, int depth) {
    std::vector<std::string> subFolders;
    os::findFiles(folder + "\\*.*", [&](const os::FindEntry& e) {
        if (sameFileName(e.name, fileName)) list->add(rt::Value(folder + "\\" + std::string(fileName)));
        if ((e.attributes & os::kDirectory) && e.name != "." && e.name != "..") subFolders.push_back(e.name);
        return true;
    });
    if (depth >= 5) return;
    for (const std::string& sub : subFolders) findIn(fileName, folder + "\\" + sub, list, depth + 1);
}

} // namespace

rt::ArrayPtr DIRECTORY(std::string_view mask, std::string_view attributes) {
    auto list = rt::makeArray();
    const std::uint32_t admitted = filterOf(attributes);
    if (admitted & os::kVolumeLabel) {
        if (const auto label = os::volumeLabel(mask)) {
            os::FindEntry e;
            e.name = *label;
            e.attributes = os::kVolumeLabel;
            list->add(rt::Value(entryList(e)));
        }
        return list;
    }
    os::findFiles(mask, [&](const os::FindEntry& e) {
        if (admits(admitted, e.attributes)) list->add(rt::Value(entryList(e)));
        return true;
    });
    return list;
}

bool FILE(std::string_view name) {
    std::string path(name);
    const std::string folder = rt::SET(rt::_SET_DEFAULT).asString();
    if (!name.empty() && !hasFolderPart(name) && !folder.empty()) {
        path = folder;
        if (path.back() != '\\' && path.back() != '/' && path.back() != ':') path += '\\';
        path += name;
    }
    bool found = false;
    os::findFiles(path, [&](const os::FindEntry&) {
        found = true;
        return false;
    });
    return found;
}

std::int64_t FSIZE(std::string_view path) {
    const auto e = firstListed(path);
    return e ? entryList(*e)->at(2).asInteger() : 0;
}

rt::Date FDATE(std::string_view path) {
    const auto e = firstListed(path);
    return e ? entryList(*e)->at(3).asDate() : rt::Date{};
}

std::string FTIME(std::string_view path) {
    const auto e = firstListed(path);
    return e ? timeText(e->written) : std::string();
}

bool LISDIR(std::string_view folder) {
    const std::string remembered = os::currentFolder();
    if (!os::setCurrentFolder(folder)) return false;
    os::setCurrentFolder(remembered);
    return true;
}

rt::Value AFINDFILE(std::string_view fileName, std::string_view folder, const rt::Value& list) {
    const rt::ArrayPtr& target = list.asArray();
    if (!target || fileName.empty()) return list;
    std::string start(folder);
    while (start.size() > 1 && (start.back() == '\\' || start.back() == '/')) start.pop_back();
    findIn(fileName, start, target, 0);
    return list;
}

} // namespace files

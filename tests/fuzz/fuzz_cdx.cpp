// Compound index reader: arbitrary bytes are opened as an index, every tag is walked both
// ways and checked, and a few keys are inserted and erased; the tags' definitions are read as
// a repair reads them from a damaged file. Anything may be refused; nothing may crash, hang
// or read out of bounds.
#include "engine/cdx.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    engine::MemoryBlockFile file(std::string(reinterpret_cast<const char*>(data), size));
    std::vector<engine::TagDefinition> defs;
    engine::readTagDefinitions(file, defs);
    engine::CdxIndex cdx(file);
    if (cdx.open() != engine::kOk) return 0;
    const auto tags = cdx.tags();
    for (const engine::TagInfo& t : tags) {
        engine::CdxCursor c(cdx, t.id);
        engine::Result r = c.first();
        for (int i = 0; r == engine::kOk && c.positioned() && i < 100000; ++i) r = c.next();
        r = c.last();
        for (int i = 0; r == engine::kOk && c.positioned() && i < 100000; ++i) r = c.prev();
        bool found = false;
        c.seek("A", found);
        c.seekLast("A", found);
        cdx.verify(t.id);
        if (!t.keyTypeKnown) cdx.setKeyType(t.id, 'N');
        // Changes on whatever tree this is.
        const std::string key(t.keyLen, 'K');
        for (std::uint32_t n = 1; n <= 3; ++n) cdx.insert(t.id, key, n);
        cdx.erase(t.id, key, 2);
        c.first();
        c.next();
        cdx.verify(t.id);
    }
    if (!tags.empty()) cdx.removeTag(tags.front().name);
    engine::KeyList keys(4, 'C');
    keys.add("abcd", 1);
    engine::TagSpec def;
    def.name = "FUZZ";
    def.keyLen = 4;
    cdx.addTag(def, keys);
    return 0;
}

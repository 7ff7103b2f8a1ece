// The verify call: the table's header against its file, every memo pointer against the memo
// file, and every tag of the open indexes against the records.
#include "engine/keys.h"
#include "engine/table.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

namespace engine {

namespace {

// A key as a person reads it: text without its trailing blanks, numbers and dates as such.
std::string showKey(std::string_view key, char keyType) {
    const ExprValue v = decodeKey(key, keyType);
    char buf[64];
    switch (v.kind) {
    case ExprValue::Kind::Character: {
        std::string s(key);
        while (!s.empty() && s.back() == ' ') s.pop_back();
        std::string out = "\"";
        for (unsigned char c : s) {
            if (c >= 32 && c < 127) {
                out += static_cast<char>(c);
            } else {
                std::snprintf(buf, sizeof buf, "\\x%02X", c);
                out += buf;
            }
        }
        return out + "\"";
    }
    case ExprValue::Kind::Numeric:
        std::snprintf(buf, sizeof buf, "%.15g", v.num);
        return buf;
    case ExprValue::Kind::Date:
        std::snprintf(buf, sizeof buf, "day %d", static_cast<int>(v.date));
        return buf;
    case ExprValue::Kind::Logical:
        return v.logical ? ".T." : ".F.";
    default:
        return "(a key of " + std::to_string(key.size()) + " bytes)";
    }
}

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

} // namespace

Result Table::verify(std::vector<std::string>& problems) {
    problems.clear();
    Result first = kOk;
    const auto report = [&](Result code, std::string text) {
        if (first == kOk) first = code;
        problems.push_back(std::move(text));
    };
    // Checks that could not be made: consistent means checked, so these are answered too.
    bool unchecked = false;
    const auto notChecked = [&](std::string text) {
        unchecked = true;
        problems.push_back(std::move(text));
    };
    if (!readOnly_) {
        Result r = writeAll();
        if (r != kOk) report(r, "pending changes could not be written (code " + std::to_string(r) + ")");
    }
    Result r = refreshCount();
    if (r != kOk) return r;

    // The header against the file.
    std::uint8_t p[dbf::prefixSize];
    std::size_t got = 0;
    if (file_.read(0, p, sizeof p, got) != os::Status::ok || got < sizeof p) return kIoError;
    const std::uint32_t count = le32(p + 4);
    std::uint64_t size = 0;
    if (file_.size(size) != os::Status::ok) return kIoError;
    const std::uint64_t dataEnd = hdr_.headerLength + std::uint64_t{count} * hdr_.recordLength;
    if (size < dataEnd) {
        report(kTableDamaged,
               "the header counts " + std::to_string(count) + " records, but the file holds only " +
                   std::to_string(size < hdr_.headerLength ? 0
                                                           : (size - hdr_.headerLength) / hdr_.recordLength));
    } else if (size > dataEnd + 1) {
        // What an append that was cut off before it counted its record leaves: harmless, the
        // next append writes over it.
        problems.push_back("note: the file has " + std::to_string(size - dataEnd) +
                           " bytes after its last record (the header counts " + std::to_string(count) +
                           "), left by an append that was cut off");
    } else if (size == dataEnd + 1) {
        std::uint8_t eof = 0;
        if (file_.read(dataEnd, &eof, 1, got) == os::Status::ok && got == 1 && eof != dbf::endOfFile)
            report(kTableDamaged, "the byte after the last record is not the end-of-file mark");
    }
    if (p[2] < 1 || p[2] > 12 || p[3] < 1 || p[3] > 31)
        report(kTableDamaged, "the header's date of last update is not a date");

    // Records and memos.
    struct Span {
        std::uint64_t from, to;
        std::uint32_t recno;
        std::string field;
    };
    std::vector<Span> memos;
    const std::uint32_t records = std::min<std::uint32_t>(count_, size < dataEnd ? 0 : count);
    const std::uint32_t limit = count_;
    count_ = records;
    r = scan(1, [&](const std::uint8_t* rec, std::uint32_t n) -> Result {
        if (rec[0] != ' ' && rec[0] != '*')
            report(kTableDamaged,
                   "record " + std::to_string(n) + " has neither the live nor the deleted mark");
        for (const dbf::Field& f : hdr_.fields) {
            if (!dbf::isMemoType(f.type)) continue;
            const std::uint32_t block = dbf::getMemoBlock(f, rec);
            if (block == 0) continue;
            const std::string where = "record " + std::to_string(n) + ", memo field " + f.name;
            if (!memo_) {
                report(kMemoDamaged, where + ": a memo pointer, and no memo file");
                continue;
            }
            std::uint32_t type = 0, len = 0;
            std::uint64_t memoSize = 0;
            if (memo_->info(block, type, len, memoSize) != kOk) {
                report(kMemoDamaged,
                       where + ": block " + std::to_string(block) + " is not a memo inside the memo file");
                continue;
            }
            if (type > 2)
                report(kMemoDamaged, where + ": block " + std::to_string(block) + " has the unknown type " +
                                         std::to_string(type));
            const std::uint16_t bs = memo_->header().blockSize;
            memos.push_back({block, block + fpt::blocksFor(len, bs), n, f.name});
        }
        return kOk;
    });
    count_ = limit;
    if (r != kOk) return r;
    std::sort(memos.begin(), memos.end(), [](const Span& a, const Span& b) { return a.from < b.from; });
    for (std::size_t i = 1; i < memos.size(); ++i)
        if (memos[i].from < memos[i - 1].to)
            report(kMemoDamaged, "the memos of record " + std::to_string(memos[i - 1].recno) + " (" +
                                     memos[i - 1].field + ") and record " + std::to_string(memos[i].recno) +
                                     " (" + memos[i].field + ") share blocks");
    if (memo_ && !memos.empty() && std::uint64_t{memo_->header().nextFree} < memos.back().to)
        report(kMemoDamaged, "the memo file's next free block lies inside the last memo");

    if (!missingIndex_.empty())
        report(kIndexMissing,
               "the header says the table has a structural index, and " + missingIndex_ + " is not there");

    // Every tag against the records.
    for (auto& bag : bags_) {
        if (lockBag(*bag, false) != kOk) {
            report(kLockRefused, "the index " + bag->path + " could not be read (locked)");
            continue;
        }
        if (bag->cdx.outOfDate())
            report(kIndexOutOfDate,
                   "the index " + bag->path + " carries the mark of a change that did not end");
        for (const TagInfo& info : bag->cdx.tags())
            if (!info.unusable.empty())
                notChecked("tag " + info.name + " of " + bag->path + ": " + info.unusable +
                           "; its keys were not compared");
        for (auto& tagPtr : bag->tags) {
            OpenTag& tag = *tagPtr;
            const std::string name = "tag " + tag.name + " of " + bag->path;
            const TagInfo* info = bag->cdx.tag(tag.id);
            std::uint64_t entries = 0;
            if (Result v = bag->cdx.verify(tag.id, &entries); v != kOk) {
                report(kIndexDamaged, name + ": its tree is broken (code " + std::to_string(v) + ")");
                continue;
            }
            if (Result w = bag->cdx.writable(tag.id); w != kOk && w != kCdxReadOnlyTag) {
                report(kIndexDamaged, name + ": its tree is broken (code " + std::to_string(w) + ")");
                continue;
            }
            if (info && info->unknownNodes)
                problems.push_back(name +
                                   ": has nodes of a layout this engine does not know; it is only read");
            if (tag.keyless) {
                notChecked(name + ": its expression cannot be evaluated here; its keys were not compared");
                continue;
            }
            if (info && info->readOnly) {
                notChecked(name + ": of another collation sequence; its keys were not compared");
                continue;
            }
            // What the tag holds, and what the records give.
            std::vector<std::pair<std::string, std::uint32_t>> held, want;
            CdxCursor walk(bag->cdx, tag.id);
            Result w = walk.first();
            while (w == kOk && walk.positioned()) {
                held.emplace_back(walk.key(), walk.recno());
                w = walk.next();
            }
            if (w != kOk) {
                report(kIndexDamaged, name + ": it cannot be walked (code " + std::to_string(w) + ")");
                continue;
            }
            count_ = records;
            scan(1, [&](const std::uint8_t* rec, std::uint32_t n) -> Result {
                bool included = false;
                std::string key;
                tagKey(tag, rec, n, included, key);
                if (included) want.emplace_back(std::move(key), n);
                return kOk;
            });
            count_ = limit;
            for (const auto& [key, n] : held)
                if (n == 0 || n > records)
                    report(kIndexDamaged, name + ": an entry for record " + std::to_string(n) +
                                              ", which is not in the table (key " +
                                              showKey(key, tag.keyType) + ")");
            std::sort(held.begin(), held.end());
            std::sort(want.begin(), want.end());
            if (tag.unique || (info && info->candidate)) {
                for (std::size_t i = 1; i < held.size(); ++i)
                    if (held[i].first == held[i - 1].first)
                        report(kIndexDamaged, name + ": the key " + showKey(held[i].first, tag.keyType) +
                                                  " is there twice (records " +
                                                  std::to_string(held[i - 1].second) + " and " +
                                                  std::to_string(held[i].second) + ")");
            }
            if (tag.unique) {
                // One entry per distinct key, for one of the records that have it.
                std::map<std::string, std::set<std::uint32_t>> byKey;
                for (const auto& [key, n] : want) byKey[key].insert(n);
                std::map<std::string, std::uint32_t> have;
                for (const auto& [key, n] : held) have.emplace(key, n);
                for (const auto& [key, recs] : byKey) {
                    auto it = have.find(key);
                    if (it == have.end())
                        report(kIndexDamaged, name + ": the key " + showKey(key, tag.keyType) +
                                                  " of record " + std::to_string(*recs.begin()) +
                                                  " is missing");
                    else if (!recs.count(it->second))
                        report(kIndexDamaged, name + ": the key " + showKey(key, tag.keyType) +
                                                  " points at record " + std::to_string(it->second) +
                                                  ", which does not have it");
                }
                for (const auto& [key, n] : have)
                    if (!byKey.count(key))
                        report(kIndexDamaged, name + ": a stale entry, key " + showKey(key, tag.keyType) +
                                                  " for record " + std::to_string(n));
            } else {
                std::vector<std::pair<std::string, std::uint32_t>> missing, extra;
                std::set_difference(want.begin(), want.end(), held.begin(), held.end(),
                                    std::back_inserter(missing));
                std::set_difference(held.begin(), held.end(), want.begin(), want.end(),
                                    std::back_inserter(extra));
                for (const auto& [key, n] : missing)
                    report(kIndexDamaged, name + ": record " + std::to_string(n) + " lacks its key " +
                                              showKey(key, tag.keyType));
                for (const auto& [key, n] : extra)
                    if (n >= 1 && n <= records)
                        report(kIndexDamaged, name + ": a stale entry, key " + showKey(key, tag.keyType) +
                                                  " for record " + std::to_string(n) +
                                                  ", which does not have it");
            }
            if (held.size() != entries)
                report(kIndexDamaged, name + ": its walk and its tree disagree on the number of keys");
        }
        // Every page of the file: in a tree, a header or the free list.
        PageReport pages;
        if (Result v = bag->cdx.checkPages(pages); v != kOk) {
            report(kIndexDamaged, "the index " + bag->path + ": its pages could not be read (code " +
                                      std::to_string(v) + ")");
        } else {
            for (const std::string& fault : pages.faults)
                report(kIndexDamaged, "the index " + bag->path + ": " + fault);
            if (!pages.unreached.empty()) {
                std::string list;
                for (std::size_t i = 0; i < pages.unreached.size() && i < 8; ++i)
                    list += (i ? ", " : "") + std::to_string(pages.unreached[i]);
                if (pages.unreached.size() > 8) list += ", ...";
                problems.push_back("the index " + bag->path + ": " + std::to_string(pages.unreached.size()) +
                                   " pages that no tag and no free list reaches (at " + list +
                                   "): space an earlier change left behind, harmless");
            }
        }
        unlockBag(*bag, false);
    }
    return first == kOk && unchecked ? kNotAllChecked : first;
}

} // namespace engine

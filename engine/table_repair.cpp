// Rebuilding the structural index: every tag made anew from the definitions the old file
// still holds (or another file gives), into a new file beside the old one that takes its
// place only when whole. The old file is only read, so a crash at any point leaves the old
// index or the new one under the index's name, never a part of either; a new file left
// unfinished by a crash is made anew by the next repair.
#include "engine/table.h"
#include "engine/table_internal.h"

#include "engine/keys.h"

namespace engine {

using namespace table_detail;

namespace {

// Duplicate keys of a candidate tag named in the report before "and more".
constexpr int kDuplicatesShown = 10;

} // namespace

// One tag to make: its definition compiled against this table, and its keys.
struct Table::RepairPlan {
    TagSpec tagSpec;
    Expression key;
    Expression cond;
    const dbf::Field* stamp = nullptr; // a tag on a datetime field alone
    KeyList keys{1, 'C'};
};

Result Table::planRepair(const TagDefinition& def, RepairPlan& plan, std::string& why) {
    plan.tagSpec = def.tagSpec;
    TagSpec& s = plan.tagSpec;
    const ExprSettings es = settings().expr();
    std::size_t pos = 0;
    if (Expression::compile(s.keyExpr, exprFields_, alias_, es, plan.key, pos) != kOk) {
        why = "its key expression cannot be evaluated here: " + s.keyExpr;
        return kBadExpression;
    }
    if (!trim(s.forExpr).empty()) {
        if (Expression::compile(s.forExpr, exprFields_, alias_, es, plan.cond, pos) != kOk ||
            plan.cond.resultKind() != ExprValue::Kind::Logical) {
            why = "its FOR condition cannot be evaluated here: " + s.forExpr;
            return kBadExpression;
        }
    } else {
        s.forExpr.clear();
    }
    // The key type as opening the tag would take it: the header's word when it has one,
    // else the expression's, a number in 4 bytes being an integer key.
    if (!def.keyTypeKnown) {
        s.keyType = plan.key.keyType();
        if (s.keyType == 'N' && s.keyLen == 4) s.keyType = 'I';
    }
    if (!validKeyType(s.keyType) || (s.keyType != 'C' && fixedKeyLength(s.keyType) != s.keyLen)) {
        why = "its key length (" + std::to_string(s.keyLen) +
              ") does not fit the type of its key: " + s.keyExpr;
        return kBadExpression;
    }
    if (const int sole = soleField(s.keyExpr);
        sole >= 0 && hdr_.fields[static_cast<std::size_t>(sole)].type == 'T' && s.keyType == 'D')
        plan.stamp = &hdr_.fields[static_cast<std::size_t>(sole)];
    plan.keys = KeyList(s.keyLen, s.keyType);
    return kOk;
}

Result Table::repairStructural(const std::string& from, std::uint32_t options,
                               std::vector<std::string>& report) {
    const bool dropUnknown = (options & kRepairDropUnknown) != 0;
    const std::string existing = relatedPath(".cdx");
    const std::string target = existing.empty() ? os::nativePath(relatedName(".cdx")) : existing;
    const bool flagged = (hdr_.flags & dbf::flagStructuralIndex) != 0;
    const std::string source = from.empty() ? existing : from;

    // The definitions.
    std::vector<TagDefinition> defs;
    std::string trouble; // why the definitions are not all known
    if (source.empty()) {
        if (!flagged) {
            report.push_back("the table has no structural index: nothing to rebuild");
            return kOk;
        }
        trouble = "the structural index " + target + " is missing";
    } else {
        os::File f;
        os::Status st = f.open(source, false);
        if (st != os::Status::ok) {
            setErrorDetail("index file " + source);
            return fromStatus(st);
        }
        FileBlocks blocks(f);
        const Result r = readTagDefinitions(blocks, defs);
        f.close();
        if (r == kCdxIo) return kIoError;
        if (r != kOk)
            trouble = "the tag directory of " + source +
                      (defs.empty() ? " cannot be read"
                                    : " breaks off after " + std::to_string(defs.size()) + " tags");
    }
    std::vector<RepairPlan> plans;
    std::vector<std::string> lost, notes;
    for (const TagDefinition& def : defs) {
        std::string why = def.why;
        RepairPlan plan;
        if (def.readable && planRepair(def, plan, why) == kOk) {
            if (def.otherCollation)
                notes.push_back("tag " + def.tagSpec.name +
                                " was of another collation sequence: it is rebuilt in machine order");
            plans.push_back(std::move(plan));
        } else {
            lost.push_back("tag " + def.tagSpec.name + ": " + why);
        }
    }
    if (!trouble.empty() || !lost.empty()) {
        if (!trouble.empty()) report.push_back(trouble);
        for (const std::string& l : lost) report.push_back(l);
        if (!dropUnknown) {
            report.push_back(
                "nothing was changed: the definitions of these tags are not known. Put back a copy of "
                "the index, take the definitions from a copy of it or from the same table elsewhere "
                "(--from), or rebuild without them (--drop-unknown) and make them anew");
            setErrorDetail(!trouble.empty() ? trouble
                                            : std::to_string(lost.size()) + " of the " +
                                                  std::to_string(defs.size()) + " tags of " + source);
            return kIndexDefinitionsUnknown;
        }
        report.push_back("these tags are left out");
    }

    // No tag left to make: the table goes on without a structural index.
    if (plans.empty()) {
        if (!existing.empty() && os::removeFile(existing) != os::Status::ok) {
            setErrorDetail("index file " + existing);
            return kAccessDenied;
        }
        if (flagged) {
            hdr_.flags = static_cast<std::uint8_t>(hdr_.flags & ~dbf::flagStructuralIndex);
            if (file_.write(28, &hdr_.flags, 1) != os::Status::ok || file_.flush() != os::Status::ok)
                return kIoError;
        }
        report.push_back("the table has no structural index now");
        return kOk;
    }

    // The keys of every tag, in one pass over the records.
    const ExprSettings es = settings().expr();
    for (RepairPlan& p : plans) p.keys.reserve(count_);
    Result r = scan(1, [&](const std::uint8_t* rec, std::uint32_t n) {
        RecordView view(*this, rec, n);
        for (RepairPlan& p : plans) {
            if (p.cond.valid() && !p.cond.test(view, es)) continue;
            p.keys.add(p.stamp ? datetimeKey(*p.stamp, rec)
                               : encodeKey(p.key.eval(view, es), p.tagSpec.keyType, p.tagSpec.keyLen),
                       n);
        }
        return kOk;
    });
    if (r != kOk) return r;

    // The new file, whole and on the disk before it takes the old one's place.
    const std::string fresh = target + ".new";
    {
        os::File f;
        os::Status st = f.create(fresh, false);
        if (st != os::Status::ok) {
            setErrorDetail("index file " + fresh);
            return fromStatus(st);
        }
        FileBlocks blocks(f);
        CdxIndex cdx(blocks);
        r = fromIndex(cdx.create());
        std::vector<TagId> ids;
        for (std::size_t i = 0; r == kOk && i < plans.size(); ++i) {
            TagId id = 0;
            r = fromIndex(cdx.addTag(plans[i].tagSpec, plans[i].keys, &id));
            if (r != kOk) setErrorDetail("tag " + plans[i].tagSpec.name);
            plans[i].keys = KeyList(1, 'C');
            ids.push_back(id);
        }
        for (std::size_t i = 0; r == kOk && i < ids.size(); ++i) {
            std::uint64_t count = 0;
            r = fromIndex(cdx.verify(ids[i], &count));
            if (r != kOk) {
                setErrorDetail("the rebuilt tag " + plans[i].tagSpec.name + " does not hold together");
                break;
            }
            std::string line = "tag " + plans[i].tagSpec.name + ": " + std::to_string(count) + " keys";
            if (plans[i].tagSpec.candidate) line += describeDuplicates(cdx, ids[i]);
            report.push_back(std::move(line));
        }
        if (r == kOk && f.flush() != os::Status::ok) r = kIoError;
        f.close();
        if (r != kOk) {
            os::removeFile(fresh);
            return r;
        }
    }
    const os::Status st = os::replaceFile(fresh, target);
    if (st != os::Status::ok) {
        os::removeFile(fresh);
        setErrorDetail("index file " + target);
        return fromStatus(st);
    }
    if (!flagged) {
        hdr_.flags |= dbf::flagStructuralIndex;
        if (file_.write(28, &hdr_.flags, 1) != os::Status::ok || file_.flush() != os::Status::ok)
            return kIoError;
    }
    for (std::string& n : notes) report.push_back(std::move(n));
    report.push_back("the structural index " + target + " was rebuilt");
    return kOk;
}

// The keys a rebuilt candidate tag holds more than once: the records share them, and the
// tag takes them all so that it agrees with the table; one of each must change.
std::string Table::describeDuplicates(CdxIndex& cdx, TagId id) {
    CdxCursor c(cdx, id);
    std::string out;
    int shown = 0;
    std::string prevKey;
    std::uint32_t prevRec = 0;
    for (Result r = c.first(); r == kOk && c.positioned(); r = c.next()) {
        if (prevRec && c.key() == prevKey) {
            if (shown++ == kDuplicatesShown) {
                out += "; and more";
                break;
            }
            out += (shown == 1 ? "; a candidate tag, yet records " : "; records ") + std::to_string(prevRec) +
                   " and " + std::to_string(c.recno()) + " share a key";
        }
        prevKey = c.key();
        prevRec = c.recno();
    }
    if (shown) out += ": change one record of each pair";
    return out;
}

} // namespace engine

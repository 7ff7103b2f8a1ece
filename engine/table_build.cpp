// Creating a tag: its name and bag, its expressions compiled against the table, the keys of
// the records collected (all of them, or from the current record on while a condition holds)
// and the tag built from them in one pass.
#include "engine/table.h"
#include "engine/table_internal.h"

#include "engine/keys.h"
#include "engine/lockmap.h"

namespace engine {

using namespace table_detail;

Result Table::createIndex(OpenTag* order, std::string_view bagName, std::string_view tagName,
                          std::string_view keyText, std::string_view forText, std::string_view whileText,
                          std::uint32_t options, OpenTag*& made, std::size_t& errorPos) {
    errorPos = 0;
    if (readOnly_) return kReadOnly;
    if (options & ~std::uint32_t{kIndexUnique | kIndexCompound | kIndexCustom | kIndexDescending})
        return kBadArgument;
    if (options & kIndexCustom) {
        setErrorDetail("custom indexes are not supported");
        return kUnsupported;
    }
    Result r = writeAll();
    if (r != kOk) return r;

    // Names.
    std::string structuralName = relatedName(".cdx");
    std::string path = trim(bagName).empty() ? structuralName : bagPath(bagName);
    std::string existing = os::findFile(path);
    if (!existing.empty()) path = existing;
    const bool structural = sameText(path, structuralName) || sameText(path, relatedPath(".cdx"));
    std::string name(trim(tagName));
    if (name.empty()) {
        if (trim(bagName).empty() || (options & kIndexCompound)) return kBadArgument;
        std::string base = path.substr(folderEnd(path));
        name = base.substr(0, base.find('.'));
    }
    name = upper(name);
    if (name.size() > 10) {
        setErrorDetail("tag name longer than 10 characters: " + name);
        return kNameTooLong;
    }

    // Expressions.
    const ExprSettings es = settings().expr();
    Expression key, cond, whileCond;
    std::size_t pos = 0;
    r = Expression::compile(keyText, exprFields_, alias_, es, key, pos);
    if (r != kOk) {
        errorPos = pos;
        setErrorDetail("key expression, at position " + std::to_string(pos) + ": " + std::string(keyText));
        return r;
    }
    char keyType = key.keyType();
    // A tag on an integer field alone has 4-byte integer keys, as the FoxPro family writes it;
    // one on a datetime field alone keys the day and its fraction.
    const int sole = soleField(keyText);
    if (keyType == 'N' && sole >= 0 && hdr_.fields[static_cast<std::size_t>(sole)].type == 'I') keyType = 'I';
    const dbf::Field* stamp = sole >= 0 && hdr_.fields[static_cast<std::size_t>(sole)].type == 'T'
                                  ? &hdr_.fields[static_cast<std::size_t>(sole)]
                                  : nullptr;
    std::size_t keyLen = keyType == 'C' ? key.resultWidth() : fixedKeyLength(keyType);
    if (!validKeyType(keyType) || keyLen == 0 || keyLen > kMaxKeyLen) {
        setErrorDetail("the key expression gives no value that can be a key: " + std::string(keyText));
        return kBadExpression;
    }
    auto compileCondition = [&](std::string_view text, Expression& out, const char* what) -> Result {
        if (trim(text).empty()) return kOk;
        std::size_t p = 0;
        Result c = Expression::compile(text, exprFields_, alias_, es, out, p);
        if (c == kOk && out.resultKind() != ExprValue::Kind::Logical) c = kBadExpression;
        if (c != kOk) {
            errorPos = p;
            setErrorDetail(std::string(what) + " condition, at position " + std::to_string(p) + ": " +
                           std::string(text));
        }
        return c;
    };
    r = compileCondition(forText, cond, "FOR");
    if (r != kOk) return r;
    r = compileCondition(whileText, whileCond, "WHILE");
    if (r != kOk) return r;

    // The keys.
    KeyList keys(keyLen, keyType);
    auto take = [&](const std::uint8_t* rec, std::uint32_t n) -> Result {
        RecordView view(*this, rec, n);
        if (cond.valid() && !cond.test(view, es)) return kOk;
        keys.add(stamp ? datetimeKey(*stamp, rec) : encodeKey(key.eval(view, es), keyType, keyLen), n);
        return kOk;
    };

    // The bag.
    Bag* bag = nullptr;
    for (auto& b : bags_)
        if (sameText(b->path, path)) bag = b.get();
    if (!bag) {
        r = openBag(existing.empty() ? os::nativePath(path) : path, structural, existing.empty(), bag);
        if (r != kOk) return r;
    }

    // Other handles must not append while the keys are collected and the tag is built.
    if (shared_ && !tableLocked_) {
        r = lockmap::wait(file_, lockmap::header, 1, true);
        if (r != kOk) return r;
    }
    r = lockBag(*bag, true);
    if (r == kOk) {
        r = refreshCount();
        if (r == kOk && !whileCond.valid()) {
            keys.reserve(count_);
            r = scan(1, take);
        } else if (r == kOk && !eof_) {
            // From the current record on, in the given order, while the condition holds.
            std::vector<std::uint8_t> rec(hdr_.recordLength);
            CdxCursor walk;
            bool onCurrent = true;
            if (order) {
                if (order->keyless) r = kIndexReadOnly;
                if (r == kOk && order->bag != bag) r = lockBag(*order->bag, false);
                if (r == kOk) {
                    bool included = false;
                    std::string k;
                    tagKey(*order, rec_.data(), recno_, included, k);
                    walk = CdxCursor(order->bag->cdx, order->id);
                    r = fromIndex(walk.find(k, recno_, onCurrent));
                }
            }
            std::uint32_t n = recno_;
            while (r == kOk) {
                if (order) {
                    if (!walk.positioned()) break;
                    n = walk.recno();
                } else if (n > count_) {
                    break;
                }
                bool show = false;
                r = visible(n, show);
                if (r != kOk) break;
                if (show) {
                    r = readRecordAt(n, rec.data());
                    if (r != kOk) break;
                    RecordView view(*this, rec.data(), n);
                    if (!whileCond.test(view, es)) break;
                    take(rec.data(), n);
                }
                if (order)
                    r = fromIndex(walk.next());
                else
                    ++n;
            }
            if (order && order->bag != bag) unlockBag(*order->bag, false);
        }
        // Building a tag is a change under way like any other: cut off half-way, it leaves the
        // mark that makes the next open answer "index out of date".
        if (r == kOk) r = markBag(*bag, true);
        const bool markedHere = r == kOk;
        if (r == kOk) {
            // A tag of that name is replaced.
            if (const TagInfo* old = bag->cdx.findTag(name)) {
                const TagId oldId = old->id;
                r = fromIndex(bag->cdx.removeTag(name));
                for (std::size_t i = 0; r == kOk && i < bag->tags.size(); ++i) {
                    if (bag->tags[i]->id == oldId) {
                        handles::remove(bag->tags[i]->handle);
                        bag->tags.erase(bag->tags.begin() + static_cast<std::ptrdiff_t>(i));
                        break;
                    }
                }
            }
        }
        TagId id = 0;
        if (r == kOk) {
            TagSpec def;
            def.name = name;
            def.keyExpr = std::string(trim(keyText));
            def.forExpr = std::string(trim(forText));
            def.keyType = keyType;
            def.keyLen = static_cast<std::uint16_t>(keyLen);
            def.unique = (options & kIndexUnique) != 0;
            def.descending = (options & kIndexDescending) != 0;
            r = fromIndex(bag->cdx.addTag(def, keys, &id));
        }
        if (r == kOk) {
            const TagInfo* info = bag->cdx.tag(id);
            r = info ? addOpenTag(*bag, *info) : kIndexDamaged;
            if (r == kOk) made = bag->tags.back().get();
        }
        // A failure that may have left part of the tag in the file keeps the mark.
        if (markedHere && (r == kIoError || r == kTableFull || r == kIndexDamaged)) bag->stuck = true;
        if (markedHere) unmarkBags();
        unlockBag(*bag, true);
    }
    if (shared_ && !tableLocked_) file_.unlock(lockmap::header, 1);
    if (r == kOk && bag->structural && !(hdr_.flags & dbf::flagStructuralIndex)) {
        hdr_.flags |= dbf::flagStructuralIndex;
        if (file_.write(28, &hdr_.flags, 1) != os::Status::ok) r = kIoError;
    }
    return r;
}

} // namespace engine

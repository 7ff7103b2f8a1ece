// One open table: its DBF file, memo file, open index bags, current record, locks and the
// buffer of appended records. engine.cpp maps the public calls and handles onto this class.
//
// The class is written in one file per role:
//   table.cpp          opening, creating and closing; the header and the record count
//   table_records.cpp  records in the file, the read window and the tail of appended records
//   table_cursor.cpp   moving the current record in natural order and in a tag's order; seek
//   table_fields.cpp   reading and writing the current record's fields
//   table_change.cpp   the change under way: a record and its keys written as one
//   table_locks.cpp    sharing: record, table and index locks
//   table_indexes.cpp  index bags and their tags; a record's key in a tag
//   table_build.cpp    creating a tag
//   table_repair.cpp   rebuilding the structural index from its tags' definitions
//   verify.cpp         the verify call
// table_internal.h holds what those files share besides this header.
#pragma once

#include "engine/cdx.h"
#include "engine/dbf.h"
#include "engine/engine.h"
#include "engine/memo.h"
#include "engine/os.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace engine {

// The process-wide settings of the engine.
struct Settings {
    bool exact = false;
    std::string dateFormat = "MM/DD/YY";
    int epoch = 1900;
    std::string searchPath;
    std::string defaultFolder;
    bool showDeleted = true;

    ExprSettings expr() const { return ExprSettings{exact, dateFormat, epoch}; }
};
Settings& settings();

// A short explanation of the failure being reported (see getLastError).
void setErrorDetail(std::string text);

// Handles: kind, generation and slot in one 64-bit number.
namespace handles {
enum class Kind : std::uint8_t { table = 1, index = 2 };
Handle add(Kind kind, void* object);
void* find(Handle h, Kind kind);
void remove(Handle h);
} // namespace handles

// An index file opened as the index half's BlockFile.
class FileBlocks final : public BlockFile {
  public:
    explicit FileBlocks(os::File& file) : file_(file) {}
    bool read(std::uint64_t offset, void* data, std::size_t size) override;
    bool write(std::uint64_t offset, const void* data, std::size_t size) override;
    bool size(std::uint64_t& out) override;
    bool truncate(std::uint64_t size) override;

  private:
    os::File& file_;
};

class Table;
struct Bag;

// One tag of an open bag, with its compiled expressions.
struct OpenTag {
    Bag* bag = nullptr;
    TagId id = 0;
    std::string name;
    std::string keyText;
    std::string forText;
    Expression key;
    Expression cond; // valid() only when the tag has a FOR condition
    char keyType = 'C';
    std::uint16_t keyLen = 0;
    bool unique = false;
    bool candidate = false; // refuses a key another record holds
    bool descending = false;
    int datetimeField = -1; // a tag on this datetime field alone: keys of day and time
    int keyField = -1;      // a tag whose key is this field, named alone: read from the record
    bool keyless = false;   // its expressions do not compile here: walked and searched only
    Handle handle = 0;
    CdxCursor cursor;
    // The tag's key of the current record as it was before the record was changed.
    bool oldValid = false;
    bool oldIncluded = false;
    std::string oldKey;
};

// An open index file.
struct Bag {
    Bag() : blocks(file), cdx(blocks) {}
    std::string path;
    bool structural = false;
    bool marked = false; // carries this handle's mark of a change under way
    bool stuck = false;  // a change of it failed half-way: the mark stays for the next open
    Table* owner = nullptr;
    os::File file;
    FileBlocks blocks;
    CdxIndex cdx;
    std::vector<std::unique_ptr<OpenTag>> tags;
};

class Table {
  public:
    Table() = default;
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    Result open(const std::string& path, std::string_view alias, std::uint16_t charType, std::uint32_t mode);
    // Before open: leaves the structural index closed (for repairing it).
    void leaveStructuralClosed() { leaveStructural_ = true; }
    Result create(const std::string& path, std::string_view alias, std::uint16_t charType,
                  std::vector<dbf::Field> fields);
    Result close();

    Handle handle = 0;

    // Structure (table.cpp).
    const std::vector<dbf::Field>& fields() const { return hdr_.fields; }
    // Callers mostly walk the fields in order, by the names the table stores: the field after
    // the last one found is tried here, without a call.
    Result findField(const FieldRef& ref, std::size_t& index) const {
        if (ref.position == 0) {
            const std::size_t next = lastField_ + 1 < hdr_.fields.size() ? lastField_ + 1 : 0;
            if (next < hdr_.fields.size() && hdr_.fields[next].name == ref.name) {
                index = lastField_ = next;
                return kOk;
            }
        }
        return lookUpField(ref, index);
    }
    Result recordCount(std::uint32_t& count);

    // Position (table_cursor.cpp).
    std::uint32_t recno() const { return recno_; }
    bool bof() const { return bof_; }
    bool eof() const { return eof_; }
    Result refresh();
    Result gotoRecord(std::uint32_t recno);
    Result gotoTop(OpenTag* tag);
    Result gotoBottom(OpenTag* tag);
    Result skip(OpenTag* tag, std::int32_t n);
    Result seek(OpenTag& tag, const ExprValue& key, bool soft, bool& found);

    // Fields (table_fields.cpp; append and writeAll in table_change.cpp).
    Result getText(std::size_t field, std::string& text);
    Result getNumber(std::size_t field, double& value);
    Result getLogical(std::size_t field, bool& value);
    Result getJulian(std::size_t field, std::int32_t& julian);
    Result getMemoLength(std::size_t field, std::uint32_t& length);
    Result setText(std::size_t field, std::string_view text);
    Result setNumber(std::size_t field, double value);
    Result setLogical(std::size_t field, bool value);
    Result setJulian(std::size_t field, std::int32_t julian);
    Result setEmpty(std::size_t field);
    Result isNull(std::size_t field, bool& null);
    // Makes the field NULL (its bytes the empty value); any other write makes it not NULL.
    Result setNull(std::size_t field);
    Result isDeleted(bool& deleted);
    Result setDeleted(bool deleted);
    Result append();
    Result writeAll();
    Result verify(std::vector<std::string>& problems); // verify.cpp

    // Locks (table_locks.cpp).
    Result lockRecord(std::uint32_t recno);
    Result unlockRecord(std::uint32_t recno);
    const std::set<std::uint32_t>& recordLocks() const { return recordLocks_; }
    Result lockTable();
    Result unlockTable();
    bool tableLocked() const { return tableLocked_; }

    // Indexes (table_indexes.cpp; createIndex in table_build.cpp).
    Result createIndex(OpenTag* order, std::string_view bag, std::string_view tag, std::string_view key,
                       std::string_view forText, std::string_view whileText, std::uint32_t options,
                       OpenTag*& made, std::size_t& errorPos);
    Result openIndex(std::string_view bag, std::vector<OpenTag*>& tags);
    Result closeIndexes();
    std::vector<OpenTag*> orders() const;
    // A tag of the open bags that this engine cannot use at all (keys longer than 240 bytes),
    // of this name, or any when name is empty: the message that says which and why, or empty.
    std::string unusableTag(std::string_view name = {}) const;
    std::uint16_t orderOf(const OpenTag* tag) const;

    // Rebuilds the structural index (table_repair.cpp) of a table opened exclusively with it
    // left closed; from: the file whose definitions to take, empty for the index itself.
    Result repairStructural(const std::string& from, std::uint32_t options, std::vector<std::string>& report);

  private:
    friend class RecordView;

    // Opening and the header (table.cpp).
    Result init();
    std::vector<std::string> containerNames() const;
    Result lookUpField(const FieldRef& ref, std::size_t& index) const;
    Result refreshCount();
    Result writeCount(std::uint32_t count);
    // The file beside the table with the table's base name and this extension (in the case
    // of the table's own extension), and the existing file of that name (empty when none).
    std::string relatedName(std::string_view ext) const;
    std::string relatedPath(std::string_view ext) const;
    // A change refused because the structural index the header announces is missing.
    Result refuseWithoutIndex() const;

    // Records in the file, the read window and the tail of appended ones (table_records.cpp).
    const std::uint8_t* recordInMemory(std::uint32_t recno) const;
    Result readRecordAt(std::uint32_t recno, std::uint8_t* out);
    Result writeRecordAt(std::uint32_t recno, const std::uint8_t* data);
    void dropWindow();
    Result loadRecord(std::uint32_t recno);
    void setEof();
    bool hidden(const std::uint8_t* rec) const;
    Result visible(std::uint32_t recno, bool& show);
    // Calls fn for every record from record from on, reading many records at once.
    Result scan(std::uint32_t from, const std::function<Result(const std::uint8_t*, std::uint32_t)>& fn);

    // Moving in natural order and in a tag's order (table_cursor.cpp).
    Result naturalStep(int dir);
    Result positionCursor(OpenTag& tag, bool& onCurrent);
    Result cursorLand(OpenTag& tag, int dir, bool step, bool& moved);
    Result tagEnd(OpenTag& tag, int dir);
    Result tagSkip(OpenTag& tag, std::int32_t n);

    // The current record's fields (table_fields.cpp).
    // The record bytes to read field f from: the blank record when f is NULL.
    const std::uint8_t* fieldBytes(const dbf::Field& f, const std::uint8_t* rec) const;
    Result prepareWrite();
    void rememberKeys();

    // The change under way (table_change.cpp).
    Result flushRecord();
    Result passOnUniqueKeys(std::vector<std::vector<KeyChange>>& changes,
                            const std::vector<std::pair<std::size_t, OpenTag*>>& leaving);
    Result stageChanges(const std::vector<std::vector<KeyChange>>& changes);
    Result refuseRecord(Result why);
    // The keys of a blank record numbered recno, bag by bag.
    std::vector<std::vector<KeyChange>> blankKeys(std::uint32_t recno, const std::vector<std::uint8_t>& rec);
    Result takeAutoValues(std::vector<std::uint8_t>& rec);
    Result keepAutoValues();
    Result checkBlankKeys(std::uint32_t recno, const std::vector<std::uint8_t>& rec);
    void dropAppended();
    Result markBag(Bag& bag, bool on);
    void unmarkBags();
    bool holdKeys() const;
    Result checkUpToDate(Bag& bag);
    Result flushTail();
    // Writes the appended records kept in memory and the record count (in a shared table the
    // caller holds the header lock).
    Result writeTail();
    // Flushes the table, memo and marked index files to the disk: what was written before is
    // lasting before anything written after (the clearing of a mark).
    Result makeDurable();
    // A structural index that another handle created after this one opened the table: opened
    // now (under the header lock, which its creator holds while it reads the records), so that
    // this handle's changes reach it. out: the bag opened, or null.
    Result adoptStructural(Bag*& out);

    // Sharing and locks (table_locks.cpp).
    void releaseImplicitLock();
    Result lockBag(Bag& bag, bool exclusive);
    void unlockBag(Bag& bag, bool exclusive);
    Result lockBags(bool exclusive);
    void unlockBags(bool exclusive);
    Result syncTags(Bag& bag);

    // Index bags and their tags (table_indexes.cpp).
    Result openBag(const std::string& path, bool structural, bool create, Bag*& out);
    Result loadTags(Bag& bag);
    Result addOpenTag(Bag& bag, const TagInfo& info);
    void closeBag(Bag& bag);
    Result tagKey(OpenTag& tag, const std::uint8_t* rec, std::uint32_t recno, bool& included,
                  std::string& key);
    const OpenTag* firstKeyless() const;
    // The field a key expression is made of alone (by its name or long name), or -1.
    int soleField(std::string_view keyText) const;
    // A datetime's key: its day number and the fraction of the day, as a numeric key.
    std::string datetimeKey(const dbf::Field& f, const std::uint8_t* rec) const;
    std::string bagPath(std::string_view bag) const;

    // Rebuilding the structural index (table_repair.cpp).
    struct RepairPlan;
    Result planRepair(const TagDefinition& def, RepairPlan& plan, std::string& why);
    static std::string describeDuplicates(CdxIndex& cdx, TagId id);

    std::string path_;
    std::string alias_;
    os::File file_;
    dbf::Header hdr_;
    mutable std::size_t lastField_ = 0;   // the field found last by name (a hint for the next)
    std::vector<FieldDesc> exprFields_;   // the fields, then the container's long names
    std::vector<std::size_t> longNameOf_; // the field each long name stands for
    std::unique_ptr<MemoFile> memo_;
    std::vector<std::unique_ptr<Bag>> bags_;
    // The structural index the header announces, when its file is missing (empty otherwise):
    // the table is then only read.
    std::string missingIndex_;
    bool shared_ = true;
    bool readOnly_ = false;
    bool leaveStructural_ = false;
    std::uint16_t charType_ = kAnsi;

    std::uint32_t count_ = 0; // records as last known (appended ones in the buffer included)
    std::uint32_t recno_ = 0;
    bool bof_ = false;
    bool eof_ = true;
    std::vector<std::uint8_t> rec_;       // the current record
    std::vector<std::uint8_t> blank_;     // a blank record
    std::vector<std::uint8_t> scratch_;   // a record read to test it
    bool dirty_ = false;                  // rec_ changed since it was read or appended
    bool isNew_ = false;                  // rec_ is an appended record not yet in the indexes
    bool modified_ = false;               // something was written since the table was opened
    std::set<std::uint32_t> freshBlocks_; // memo blocks the pending change wrote

    // Appended records not yet written (exclusive or table-locked): records tailFirst_ ...
    std::vector<std::uint8_t> tail_;
    std::uint32_t tailFirst_ = 0;

    // Records read ahead while no one else can write the table: windowFirst_ ...
    std::vector<std::uint8_t> window_;
    std::uint32_t windowFirst_ = 0;
    std::uint32_t windowCount_ = 0;
    static constexpr std::size_t windowBytes = std::size_t{64} << 10;

    std::set<std::uint32_t> recordLocks_; // records locked by request
    std::set<std::uint32_t> heldLocks_;   // records whose OS lock this handle holds
    std::vector<std::pair<std::uint64_t, std::uint64_t>> tableRanges_; // the table lock
    bool tableLocked_ = false;
    std::uint32_t implicitLock_ = 0; // record locked only for a pending write
};

} // namespace engine

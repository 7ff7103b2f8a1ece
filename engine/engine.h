// The table engine: DBF tables with FPT memo files and CDX compound indexes, shared between
// processes through byte-range locks. The table layer's driver calls it; the engine knows
// nothing of work areas or of the runtime.
//
// Every call answers a result code (0 success) and hands its results back through
// out-parameters, which are left unchanged on failure unless a call says otherwise. Tables
// and indexes are known by opaque handles: a handle that was closed, belongs to a table that
// was closed, or is of the wrong kind answers kBadHandle, never a crash. The engine is used
// from one thread at a time.
//
// Files: table type 2 only (DBF tables, FPT memo files, CDX compound indexes, in the FoxPro
// layouts). Type 1 (dBase-style tables with DBT memos and one NTX index per file) and type 3
// (ADT tables) are refused with kUnsupported. The structural index (the .cdx
// with the table's base name) is opened with the table when it exists and stays open, and
// maintained, until the table closes.
//
// Lock map. All locks are byte-range locks at offsets from 4 GiB up, past the end of any DBF,
// FPT or CDX file (their offsets are 32-bit), so they never stand in the way of a read:
//   table file  4 GiB + 0          open-mode lock: shared by every shared open, exclusive by an
//                                  exclusive open, held until the table is closed
//               4 GiB + 1          header lock: exclusive, held for the moment an append
//                                  re-reads the record count, writes the record and the count;
//                                  while a tag is built from the records; while appended records
//                                  kept in memory are written with their count; and, by a handle
//                                  with no structural index, while it writes a record (it then
//                                  opens a structural index another handle has made meanwhile)
//               4 GiB + 16 + n     record n's lock (exclusive); the table lock is an exclusive
//                                  lock on all 2^32 of these bytes (minus those of the records
//                                  this handle has locked already)
//   index file  4 GiB + 0          shared while reading, exclusive while changing it
//   memo file   4 GiB + 0          exclusive while a new memo block is allocated
// Locks belong to the handle: two handles on one table conflict with each other like two
// processes. Closing a handle, or ending the process, releases all of its locks. A table
// opened exclusively takes no lock but the open-mode one.
//
// Sharing: in a shared table, an append takes the header lock, re-reads the record count,
// locks the new record, writes it with the new count and the end-of-file mark, and releases
// the header lock; the new record stays locked. Reads of the record count, going past the
// known last record and refreshing a record read the file again, so other processes'
// appends and writes are seen. Writing a field of a record that this handle has not locked
// takes the record lock for the time until the record is written (when the handle moves,
// refreshes, unlocks or closes). A table opened exclusively, or locked as a whole, keeps its
// appended records in memory and writes them, with the header (record count and date), when
// the table is unlocked or closed, when the buffer is full, and before keys of them reach an
// index that other processes read; it also reads records ahead in batches.
//
// Crashes: a change of a table and its indexes (a record written, a tag created or rebuilt)
// first writes the mark of a change under way into the index file and flushes it to the disk,
// and clears it only after the table, memo and index files are flushed. A process killed, a
// disk filled or the power cut at any point leaves the table as it was before the call or
// after it, or the mark, which the next open answers with kIndexOutOfDate. Memo blocks reach
// the disk before the record that points at them.
#pragma once

#include "engine/expr.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

// An opaque handle: kind, slot and generation. 0 is never a valid handle.
using Handle = std::uint64_t;

// Result codes. The index half's codes (7500-7599) are in expr.h; these are the table half's.
// Open refused: another handle holds the table in a conflicting mode (exclusive against
// any open, shared against an exclusive one).
inline constexpr Result kOpenConflict = 1001;
// The number does not fit the field (width, decimals, range).
inline constexpr Result kNumberRefused = 5003;
// List of locks: more locks are held than there was room for; the room holds the first ones.
inline constexpr Result kMoreLocks = 5005;
// Unlock table: the table was not locked (record locks, if any, were released all the same).
// Callers of unlock count it as success.
inline constexpr Result kTableNotLocked = 5064;
// Open index: the bag is open on this table already; its tags' handles are handed back.
inline constexpr Result kIndexAlreadyOpen = 5065;
// No current record (past the end, or the table is empty): reads give blanks (spaces, 0,
// false, empty memo), writes are refused, a skip forward cannot move.
inline constexpr Result kNoCurrentRecord = 5068;
// Unlock record: this handle did not hold that record locked. Callers count it as success.
inline constexpr Result kRecordNotLocked = 5087;

// The table half's own codes.
inline constexpr Result kFileNotFound = 7001; // table, memo, index or folder not found
// The table file's header, descriptors, lengths or size do not fit together (truncated
// header, record length 0, fields beyond the header, fewer records than the count says).
inline constexpr Result kTableDamaged = 7002;
// The memo file's header is bad, or a memo pointer or length lies outside the file.
inline constexpr Result kMemoDamaged = 7003;
// The index file is not a compound index or its structure is broken (bad node pointers,
// cycles, entries for records that are not in the table, a tag that holds the current record
// under a key the record does not have, so that moving on from it would not advance). A
// change that such an index refuses is not written to the table either.
inline constexpr Result kIndexDamaged = 7004;
// Table type 1 or 3, a DBF of another family (dBase, varchar fields), custom indexes, a
// server type other than the local one.
inline constexpr Result kUnsupported = 7005;
inline constexpr Result kNotTable = 7006;  // the file is not a DBF table at all
inline constexpr Result kBadHandle = 7010; // a handle that is 0, closed, stale or of the wrong kind
// An argument outside its range: open mode, options, record number, date format, empty name.
inline constexpr Result kBadArgument = 7011;
// A key, FOR or WHILE expression that does not compile or gives the wrong type; createIndex
// gives the position of the fault, getLastError describes it.
inline constexpr Result kBadExpression = 7012;
inline constexpr Result kNameTooLong = 7013;  // a field, tag or alias name, or a path, too long
inline constexpr Result kUnknownField = 7014; // no field of that name or position
// The call does not suit the field's type (a number for a character field, a seek key of
// another kind than the index's, ...).
inline constexpr Result kWrongType = 7015;
inline constexpr Result kReadOnly = 7016; // the table was opened read-only
inline constexpr Result kIoError = 7017;  // the operating system failed a read or write
// Another handle holds the record, the table, or (after waiting) the header, index or memo
// lock; for a write: the record lock it needs could not be taken.
inline constexpr Result kLockRefused = 7018;
// A text that is not a value of the field's type (a date not in the date format, a number,
// a logical).
inline constexpr Result kBadValue = 7019;
inline constexpr Result kIndexNotFound = 7020; // no index of that name or position on the table
inline constexpr Result kAccessDenied = 7021;  // the system refused access to a file
// The table or memo file would pass 4 GiB, or the table 2^32 - 1 records.
inline constexpr Result kTableFull = 7022;
// Create table: a field definition that is not valid (name, type, length, decimals,
// duplicate name, no fields, records too long).
inline constexpr Result kBadField = 7023;
// A change the structural or an open index cannot take: one of its tags is of another
// collation sequence (or has node attributes this engine does not know) and is only read.
// Nothing was written: not the record, not any index.
inline constexpr Result kIndexReadOnly = 7024;
// The index and its table may disagree: a change of the two was cut off half-way (the
// index file still carries the mark of a change under way). Answered by opening the table,
// and by any call that reads the index, unless the table was opened read-only (then it can be
// walked and verified); repairIndex (dbverify --repair) rebuilds the index so that the table
// can be changed again.
inline constexpr Result kIndexOutOfDate = 7025;
// A change that would give a candidate tag (one whose keys each belong to one record, as
// primary keys) a key it holds for another record. Nothing was written.
inline constexpr Result kDuplicateKey = 7026;
// Repair index: the definitions of some of the structural index's tags are known nowhere (the
// file is missing, or its tag directory or a tag's header is lost or cannot be evaluated here).
// Nothing was changed.
inline constexpr Result kIndexDefinitionsUnknown = 7028;

// The table's header says it has a structural index and the index file is not there. The
// table opens and is read as ever, and the verify call counts it as a disagreement; every
// change is refused with this code, since a change made without the index would leave it
// out of date should it come back. Creating a tag in the structural index (createIndex with
// no bag) makes a new one, after which the table changes again.
inline constexpr Result kIndexMissing = 7027;

// Verify: no check that could be made found a disagreement, but some could not be made (the
// keys of a tag of another collation, with an expression this engine cannot evaluate, or
// with keys longer than it handles); problems says what was not checked.
inline constexpr Result kNotAllChecked = 7029;

// The version of this engine, as the version query gives it.
inline constexpr std::uint32_t kVersionMajor = 1;
inline constexpr std::uint32_t kVersionMinor = 0;
inline constexpr char kVersionLetter = 'a';

// Open modes (kOpenShared or kOpenExclusive, plus kOpenReadOnly).
enum : std::uint32_t { kOpenExclusive = 1, kOpenReadOnly = 2, kOpenShared = 4 };
// Index options.
enum : std::uint32_t { kIndexUnique = 1, kIndexCompound = 2, kIndexCustom = 4, kIndexDescending = 8 };
// Repair options.
enum : std::uint32_t { kRepairDropUnknown = 1 };
// Table types.
enum : std::uint16_t { kTypeNtx = 1, kTypeCdx = 2, kTypeAdt = 3 };
// Character types of open (kept for the table, used as the code page mark of new tables).
enum : std::uint16_t { kAnsi = 1, kOem = 2 };

// A field for createTable. The length of D, L, M, I, B, Y and T fields may be left 0.
struct FieldDef {
    std::string name; // 1 to 10 letters, digits and "_", starting with a letter
    char type = 'C';  // C N F D L M, also I B Y T
    std::uint16_t len = 0;
    std::uint8_t dec = 0;
};

// A field, by name (without regard to case) or by 1-based position.
struct FieldRef {
    std::string_view name;
    std::uint32_t position = 0; // 0: by name
    FieldRef(std::string_view n) : name(n) {}
    FieldRef(const char* n) : name(n) {}
    FieldRef(const std::string& n) : name(n) {}
    FieldRef(int pos) : position(pos > 0 ? static_cast<std::uint32_t>(pos) : 0xFFFFFFFFu) {}
};

// ---- Tables ------------------------------------------------------------------------------

// Opens a table. name: a path, ".dbf" added when it has no extension; a relative name is
// looked for in the default folder, then in each folder of the search path. alias: used as
// the prefix of field names in expressions (empty: the file's base name). tableType: 2, or 0
// for the engine's default (2). charType: kAnsi or kOem. lockType and checkRights are
// accepted and kept (0 or 1, 1 or 2). mode: kOpenShared or kOpenExclusive, plus kOpenReadOnly.
// connection must be 0 (the engine runs in this process, there are no connections).
// Answers kOpenConflict when another handle holds the table in a conflicting mode.
Result openTable(Handle connection, std::string_view name, std::string_view alias, std::uint16_t tableType,
                 std::uint16_t charType, std::uint16_t lockType, std::uint16_t checkRights,
                 std::uint32_t mode, Handle& table);
// Creates a table with these fields (an existing file of that name is replaced, when no one
// has it open) and opens it exclusively. A memo file is made when there are memo fields; an
// old structural index of that name is removed.
Result createTable(std::string_view name, std::string_view alias, std::uint16_t tableType,
                   std::uint16_t charType, std::span<const FieldDef> fields, Handle& table);
// Writes what is pending, releases every lock and closes the table and all of its indexes.
Result closeTable(Handle table);

Result getNumFields(Handle table, std::uint16_t& count);
Result getFieldName(Handle table, FieldRef field, std::string& name);
// The type letter: C N F D L M (and I B Y T G V Q W as the file has them).
Result getFieldType(Handle table, FieldRef field, char& type);
Result getFieldLength(Handle table, FieldRef field, std::uint32_t& length);
Result getFieldDecimals(Handle table, FieldRef field, std::uint16_t& decimals);
// The physical number of records, deleted ones included (read again from the file when the
// table is shared).
Result getRecordCount(Handle table, std::uint32_t& count);
Result getTableType(Handle table, std::uint16_t& type);

// ---- Position ----------------------------------------------------------------------------

// The current record number; past the end it is the record count + 1.
Result getRecordNum(Handle table, std::uint32_t& recno);
// Writes the current record if changed, then reads it again from the file.
Result refreshRecord(Handle table);
// Goes to record n (deleted or not); 0, or a number past the last record, goes past the end.
Result gotoRecord(Handle table, std::uint32_t recno);
// First and last record in natural order (table handle) or in an index's order (index
// handle); deleted records are stepped over while show-deleted is off.
Result gotoTop(Handle tableOrIndex);
Result gotoBottom(Handle tableOrIndex);
// Moves n records in natural or index order. 0 reads the current record again. Moving
// back from the first record sets the begin flag and stays on it; moving on from the last
// goes past the end. Moving forward from past the end answers kNoCurrentRecord.
Result skip(Handle tableOrIndex, std::int32_t n);
Result atBOF(Handle tableOrIndex, bool& bof);
Result atEOF(Handle tableOrIndex, bool& eof);
// Seeks a key in an index: the first record in index order whose key begins with key (a
// character key may be shorter than the index key; with exact compare on it must match in
// full). found tells whether it was found; when not, a soft seek stays on the record that
// would follow, a plain seek goes past the end. The key's kind must be the index's.
Result seek(Handle index, const ExprValue& key, bool soft, bool& found);

// ---- Fields ------------------------------------------------------------------------------
// Fields are given by name or position. Past the end reads answer kNoCurrentRecord
// with blank values and writes answer it without writing. Writes go to the current record
// and reach the file (and the indexes) when the record is left, refreshed, unlocked or the
// table closed.

// The field as text: character fields as stored, numbers as stored (right-aligned), dates
// in the date format in force, logicals "T" or "F", memos their whole text.
Result getField(Handle table, FieldRef field, std::string& text);
Result getDouble(Handle table, FieldRef field, double& value);
Result getLogical(Handle table, FieldRef field, bool& value);
Result getJulian(Handle table, FieldRef field, std::int32_t& julian);
Result getMemoLength(Handle table, FieldRef field, std::uint32_t& length);
// Text of character and memo fields (memos in full); other fields as getField.
Result getString(Handle table, FieldRef field, std::string& text);

// Sets a field from text: character fields cut or padded to their length, memos whole,
// numbers read from the text (kNumberRefused when they do not fit), dates read in the date
// format in force, logicals from T, Y, F or N. Text that is not a value of the type answers
// kBadValue.
Result setField(Handle table, FieldRef field, std::string_view text);
// The text setter for character and memo fields (others as setField).
Result setString(Handle table, FieldRef field, std::string_view text);
Result setDouble(Handle table, FieldRef field, double value);
Result setLogical(Handle table, FieldRef field, bool value);
Result setJulian(Handle table, FieldRef field, std::int32_t julian);
Result setEmpty(Handle table, FieldRef field);

// NULL values (fields flagged as accepting NULL in tables of version 0x30 to 0x32). A NULL
// field reads as its type's empty value; every write above makes it not NULL again, setNull
// makes it NULL (kWrongType for a field that does not accept NULL).
Result isNull(Handle table, FieldRef field, bool& null);
Result setNull(Handle table, FieldRef field);

// The deleted mark of the current record.
Result isDeleted(Handle table, bool& deleted);
Result deleteRecord(Handle table);
Result recallRecord(Handle table);

// Appends a blank record, which becomes current (and, in a shared table, locked).
Result appendRecord(Handle table);
// Writes the current record and every buffered append to the file.
Result writeRecord(Handle table);

// Checks the table against its files: the header against the file size, every memo pointer
// against the memo file (inside it, of a known type, no two memos sharing blocks), and every
// tag of the open indexes against the records (every record the FOR condition takes has
// exactly its key, no stale entries, keys in order, a unique or candidate tag no key twice).
// Pending changes are written first. Answers 0 when all agrees, else the code of the first
// disagreement (kTableDamaged, kMemoDamaged, kIndexDamaged, kIndexOutOfDate, kIndexMissing); problems gets
// one line in plain words for each (and notes, e.g. a tag of another collation that could not
// be compared).
Result verifyTable(Handle table, std::vector<std::string>& problems);

// Rebuilds every tag of a table's structural index from the definitions its index file still
// holds (name, key expression, FOR condition, unique, candidate, descending; as far as the
// file can be read: its tag directory and the tags' headers, whatever became of the trees), so
// that a table answering kIndexOutOfDate or kIndexDamaged is usable again. name: the table as
// openTable finds it. definitions: another index file to take the definitions from instead (a
// copy of the index, or the same table's index elsewhere), empty for the table's own. The
// table must not be open anywhere, this process included: it is opened exclusively
// (kOpenConflict otherwise). The new index is written whole beside the old one (the index's
// name with ".new" added), flushed, and then put in its place in one step: a crash at any
// point leaves the old index or the new one, never a part of either. Tags are made in their
// old order; a tag of another collation sequence is rebuilt in machine order; a candidate tag
// takes every record's key even where records share one (report names them). A table whose
// header marks a structural index that is missing gets it back when definitions are given.
// When a tag's definition is not known, nothing is changed and the answer is
// kIndexDefinitionsUnknown, unless options holds kRepairDropUnknown: then the known tags are
// rebuilt and the others left out, and with none known the index file is removed and the
// header's mark cleared. report: one line in plain words for each tag made or left out, and
// notes.
Result repairIndex(std::string_view name, std::string_view definitions, std::uint32_t options,
                   std::vector<std::string>& report);

// ---- Locks -------------------------------------------------------------------------------

Result lockRecord(Handle table, std::uint32_t recno);
Result unlockRecord(Handle table, std::uint32_t recno);
// The record numbers this handle holds locked, in ascending order: count in = room, out =
// how many were written. kMoreLocks when there were more than room.
Result getAllLocks(Handle table, std::span<std::uint32_t> room, std::uint16_t& count);
Result lockTable(Handle table);
// Releases the table lock and every record lock (kTableNotLocked when no table lock was held).
Result unlockTable(Handle table);
Result isTableLocked(Handle table, bool& locked);
Result isRecordLocked(Handle table, std::uint32_t recno, bool& locked);

// ---- Indexes -----------------------------------------------------------------------------

// Creates an index tag and answers its handle. bag: the index file (".cdx" added when it has
// no extension; without a folder it lies beside the table); empty for the structural index.
// tag: the tag's name (at most 10 characters); with an empty tag and no kIndexCompound
// option the bag's base name is used. key: the key expression (character keys up to 240
// bytes); forText: a logical condition selecting the records, empty for all; whileText: a
// logical condition that stops the scan, which then starts at the current record and runs in
// the order of tableOrIndex (empty: every record). options: kIndexUnique, kIndexCompound,
// kIndexDescending (kIndexCustom is refused). A unique tag holds each key once, with the
// lowest-numbered record that has it: when that record changes, the key goes to the next
// record that has it (or leaves the tag with the last one), and a lower record taking the key
// takes the entry. A tag of the same name in the bag is replaced. A bad
// expression answers kBadExpression (or the index half's kExpr* code when it is more
// telling) and, when errorPos is given, the 0-based position of the fault.
Result createIndex(Handle tableOrIndex, std::string_view bag, std::string_view tag, std::string_view key,
                   std::string_view forText, std::string_view whileText, std::uint32_t options, Handle& index,
                   std::size_t* errorPos = nullptr);
// Opens an index bag and answers the handles of its tags (as many as there is room for;
// count = how many). kIndexAlreadyOpen when it was open already.
Result openIndex(Handle table, std::string_view bag, std::span<Handle> room, std::uint16_t& count);
// Closes every index bag of the table but the structural one (which stays maintained).
Result closeAllIndexes(Handle table);
Result getIndexName(Handle index, std::string& name);
Result getIndexExpr(Handle index, std::string& key);
Result getIndexCondition(Handle index, std::string& forText);
// 1-based position among the table's open indexes (the structural index's tags first).
Result getIndexOrder(Handle index, std::uint16_t& position);
Result getIndexHandleByOrder(Handle table, std::uint16_t position, Handle& index);
// By tag name, without regard to case and trailing blanks (at most 128 characters).
Result getIndexHandle(Handle table, std::string_view name, Handle& index);
Result getNumIndexes(Handle table, std::uint16_t& count);
// The table an index belongs to.
Result getTableHandle(Handle index, Handle& table);

// ---- Settings and process ----------------------------------------------------------------

Result setExact(bool on);
Result getExact(bool& on);
// Date formats are made of "DD", "MM", "YY" or "YYYY" and separators (at most 32 chars).
Result setDateFormat(std::string_view format);
Result getDateFormat(std::string& format);
Result setEpoch(std::uint16_t year);
Result getEpoch(std::uint16_t& year);
// Folders searched, after the default folder, for tables given without a full path;
// separated by ";" or ",".
Result setSearchPath(std::string_view path);
Result setDefault(std::string_view folder);
Result showDeleted(bool show);
// The server types allowed (1 local, 2 remote, 4 internet): only the local server exists.
Result setServerType(std::uint16_t mask);
// Closes every table and forgets every handle.
Result applicationExit();
Result getVersion(std::uint32_t& major, std::uint32_t& minor, char& letter, std::string& description);
// The error display: shows a text through the display hook (by default on the standard error
// output). The table layer sets the hook to its own message display.
Result showError(std::string_view text);
void setErrorDisplay(std::function<void(std::string_view)> hook);
// The last non-zero result of any call with a short English explanation (for an expression
// also the position of the fault).
Result getLastError(Result& code, std::string& text);

} // namespace engine

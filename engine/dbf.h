// The DBF table file as FoxPro lays it out, and the field values inside a record.
//
//   offset  size  header
//        0     1  version: 0x30 (tables we create), also read: 0x03 and 0xF5 (with memo),
//                 0x31 (with autoincrement fields), 0x32 (with V, Q or W fields)
//        1     3  date of last update: year mod 100, month, day (read: 0-79 are 2000-2079,
//                 80-99 1980-1999, 100 and up 1900 + the byte, as other writers store it)
//        4     4  record count (little-endian, as every number in the header)
//        8     2  header length: 32 + 32 per field + 1 terminator + 263 backlink bytes
//       10     2  record length, the deleted mark byte included
//       28     1  table flags: 0x01 structural index, 0x02 memo file, 0x04 part of a database
//       29     1  code page mark (0x03 Windows ANSI, 0x01 DOS OEM)
//       32  32*n  field descriptors: name (11 bytes, NUL padded), type, offset in the record
//                 (4), length, decimals, flags, autoincrement next value (4) and step, 8 zero
//      ...     1  0x0D
//      ...   263  backlink area (zeros; the database container path when the table is in one)
//   header length ...  records: the deleted mark (' ' or '*') then the fields; then 0x1A.
//
// The system field _NullFlags (type '0', the last descriptor of some 0x30-0x32 tables) holds
// one bit per V or Q field (set: the field's last byte is the length of its value) and one
// per field flagged as accepting NULL (set: the field is NULL, its bytes hold the empty
// value), handed out in descriptor order from bit 0 of its first byte. It is not in the
// field list; Header keeps where it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace engine::dbf {

constexpr std::size_t prefixSize = 32;
constexpr std::size_t descriptorSize = 32;
constexpr std::size_t backlinkSize = 263;
constexpr std::uint8_t versionFox = 0x30;
constexpr std::uint8_t flagStructuralIndex = 0x01;
constexpr std::uint8_t flagMemo = 0x02;
constexpr std::uint8_t endOfFile = 0x1A;
constexpr std::size_t maxFieldName = 10;
constexpr std::size_t maxFields = 255;

struct Field {
    std::string name;         // upper case, at most 10 characters
    char type = 'C';          // C N F D L M, and read: I B Y T G
    std::uint32_t offset = 0; // in the record; the deleted mark is byte 0
    std::uint16_t len = 0;
    std::uint8_t dec = 0;
    std::uint8_t flags = 0;
    int nullBit = -1; // its bit in _NullFlags when it accepts NULL
    int varBit = -1;  // V and Q fields: the bit that says the last byte holds the length
    // Autoincrement fields (flag 0x08): the value the next appended record gets, and the step
    // added after it; kept in the field's descriptor at descriptorAt + 19 and + 23.
    std::uint32_t autoNext = 0;
    std::uint8_t autoStep = 0;
    std::uint32_t descriptorAt = 0;
};

constexpr std::uint8_t fieldAutoIncrement = 0x08;

constexpr std::uint8_t fieldNullable = 0x02;

struct Header {
    std::uint8_t version = versionFox;
    int year = 0, month = 0, day = 0;
    std::uint32_t recordCount = 0;
    std::uint16_t headerLength = 0;
    std::uint16_t recordLength = 0;
    std::uint8_t flags = 0;
    std::uint8_t codePage = 0x03;
    std::vector<Field> fields;         // _NullFlags is not among them
    std::uint32_t nullFlagsOffset = 0; // _NullFlags in the record (length 0: none)
    std::uint16_t nullFlagsLen = 0;
    std::string backlink; // the database container that owns the table (relative path), if any

    bool hasMemo() const;
};

enum class Check {
    ok,
    truncated,   // fewer bytes than the header needs
    notTable,    // the version byte is not one of a DBF table
    unsupported, // a DBF of another family (dBase memo files) or a field type we do not keep
    damaged,     // lengths, counts or descriptors that do not fit together
};

// Reads the fixed 32-byte start of the header (version, date, counts, lengths, flags).
Check readPrefix(std::span<const std::uint8_t> bytes, Header& out);
// Reads the whole header (bytes holds the first headerLength bytes of the file, as far as the
// file has them) and checks that descriptors, lengths and record layout fit together.
Check readHeader(std::span<const std::uint8_t> bytes, Header& out);
// The header bytes for a table with these fields: offsets and lengths are computed here
// (the fields' own offsets are ignored), headerLength and recordLength are set in out.
std::vector<std::uint8_t> buildHeader(Header& h);
// Only the 32-byte prefix (the part that changes when records are appended).
void writePrefix(const Header& h, std::uint8_t* out32);

// Checks one field definition for a new table; an empty answer means it is fine, otherwise
// a short reason. Names are upper-cased by the caller.
enum class FieldProblem { none, badName, nameTooLong, badType, badLength, duplicate };
FieldProblem checkField(const Field& f);

// Field values inside a record buffer (rec points at the record's first byte, the mark).
// Numbers: N and F as right-aligned text with the field's decimals, I as a 32-bit integer,
// B as a double, Y as a 64-bit count of ten-thousandths.
double getNumber(const Field& f, const std::uint8_t* rec);
// False when the value does not fit the field (the record is then unchanged).
bool putNumber(const Field& f, std::uint8_t* rec, double value);
// Logical fields: 'T', 't', 'Y', 'y' are true; anything else (also '?' and blank) false.
bool getLogical(const Field& f, const std::uint8_t* rec);
void putLogical(const Field& f, std::uint8_t* rec, bool value);
// Dates as Julian day numbers (0 empty). D fields hold "YYYYMMDD"; T fields a Julian day
// and milliseconds, both 32-bit. Text that is not a date reads as the empty date.
std::int32_t getDate(const Field& f, const std::uint8_t* rec);
void putDate(const Field& f, std::uint8_t* rec, std::int32_t jd);
// Memo block numbers: 4-byte little-endian (our tables) or 10 digits (older tables).
std::uint32_t getMemoBlock(const Field& f, const std::uint8_t* rec);
void putMemoBlock(const Field& f, std::uint8_t* rec, std::uint32_t block);
// The text of a number in a field of length len with dec decimals, rounded half away from
// zero; empty when it does not fit.
std::string formatNumber(double value, std::size_t len, std::size_t dec);

bool isMemoType(char type);

// The year of the header's date byte, and the byte of a year.
int yearFromByte(std::uint8_t b);
std::uint8_t yearByte(int year);

// NULL values: a field is NULL when its null bit is set.
bool isNull(const Header& h, const Field& f, const std::uint8_t* rec);
void setNull(const Header& h, const Field& f, std::uint8_t* rec, bool null);
// V and Q fields: the value (its length from the last byte when the varlength bit says so),
// and storing one (blank padded for V, NUL for Q; the length byte when shorter than the
// field).
std::string getVar(const Header& h, const Field& f, const std::uint8_t* rec);
void putVar(const Header& h, const Field& f, std::uint8_t* rec, std::string_view value);

} // namespace engine::dbf

// Work areas 1 to 255 and the table commands that act on the current one.
//
// A work area holds one open table, served by the driver chosen when the table was opened.
// Commands act on the current work area; a command that needs a table when the current work
// area holds none raises the "DBCMD" error 35 ("Workarea not in use") / 2001 with the
// command's name as operation. Errors go to the installed error handler through the
// runtime's error launch; when the handler answers with a default, the command answers its
// empty result (false, 0, "", no value).
#pragma once

#include "runtime/value.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tables {

constexpr int kMaxAreas = 255;

// ---- Selection -----------------------------------------------------------------------------

// SELECT([area]): without an argument the current work area's number; with an alias (text)
// the number of the work area open under it (0 when none); with a number that number.
// Selects nothing.
std::int64_t SELECT(const rt::Value& area = {});
// DBSELECTAREA(area): selects a work area by number (0: the lowest free one) or by alias.
// An alias that is not open raises the "Alias does not exist" error (15 / 1002). Answers
// the number of the work area now current.
std::int64_t DBSELECTAREA(const rt::Value& area);
// ALIAS([area]): the alias of the current (or given) work area; "" when it holds no table.
std::string ALIAS(const rt::Value& area = {});
// USED(): whether the current work area holds a table.
bool USED();

// For the routines that evaluate calls inside another work area: the number of the work area
// open under an alias (case-blind, trailing blanks ignored), 0 when none; and the current one.
int areaOfAlias(std::string_view alias);
int currentArea();
// An alias or a name as the work areas compare them: without outer blanks, a-z in upper case.
std::string upperTrim(std::string_view text);

// ---- Open, create, close -------------------------------------------------------------------

// NETERR([flag]): the process's network-error flag (the runtime's); a logical sets it.
bool NETERR(const rt::Value& flag = {});

// DBUSEAREA(newArea, driver, file, alias, shared, readOnly): opens a table in the current
// work area (newArea true: the lowest free one is selected first; false: the current one is
// closed first). Driver: a name, else the default driver. Alias: the one given, else the
// file's base name. Clears the network-error flag first and sets it when the open fails.
// Answers whether the table is open.
bool DBUSEAREA(const rt::Value& newArea = {}, const rt::Value& driver = {}, const rt::Value& file = {},
               const rt::Value& alias = {}, const rt::Value& shared = {}, const rt::Value& readOnly = {});
// DBCREATE(file, structure, driver, newArea, alias): creates a table from a structure list
// {{name, type, len, dec}, ...}; with newArea true it is then opened (exclusive) in the
// lowest free work area. Answers whether the table was created (and opened, when asked).
bool DBCREATE(const rt::Value& file = {}, const rt::Value& structure = {}, const rt::Value& driver = {},
              const rt::Value& newArea = {}, const rt::Value& alias = {});
// DBCLOSEAREA(): closes the table of the current work area (nothing when none).
void DBCLOSEAREA();
// DBCLOSEALL(): closes every work area and selects work area 1.
void DBCLOSEALL();
// DELDBFMDX(file): writes a zero byte at offset 28 of the file (the production-index mark of
// a DBF header). Answers whether the file could be opened and written.
bool DELDBFMDX(const rt::Value& file = {});

// The program's end: every work area closed, then each registered driver's exit step in
// registry order. Runs once; later calls do nothing.
void closeAllAreasAndExitDrivers();

// ---- Position ------------------------------------------------------------------------------

std::int64_t RECNO();    // 0 when no table is open
std::int64_t RECCOUNT(); // 0 when no table is open
std::int64_t LASTREC();
bool BOF();
// EOF(): the C library owns the name EOF (a macro), so the routine is EOF_ here.
bool EOF_();
bool FOUND();
bool DELETED();
bool DBGOTO(const rt::Value& record = {});
bool DBGOTOP();
bool DBGOBOTTOM();
bool DBSKIP(const rt::Value& count = {}); // default 1
// DBSEEK(key, soft, last): seeks the key in the current order; soft: stay on the following
// record when not found (else past the end). Answers FOUND().
bool DBSEEK(const rt::Value& key = {}, const rt::Value& soft = {}, const rt::Value& last = {});

// ---- Records and fields --------------------------------------------------------------------

bool DBDELETE();
bool DBRECALL();
std::int64_t FCOUNT();                          // 0 when no table is open
std::string FIELDNAME(const rt::Value& n = {}); // "" out of range
std::int64_t FIELDPOS(const rt::Value& name = {});
// FIELDGET(n): the value of field n; no value when no table is open or n is out of range.
rt::Value FIELDGET(const rt::Value& n = {});
// FIELDPUT(n, value): writes field n; answers the value written, no value when nothing was.
rt::Value FIELDPUT(const rt::Value& n = {}, const rt::Value& value = {});
// DBAPPEND([releaseLocks]): clears the network-error flag, appends a blank record, and sets
// the flag when the driver refuses. Answers whether a record was appended.
bool DBAPPEND(const rt::Value& releaseLocks = {});
bool DBCOMMIT();

// ---- Locks ---------------------------------------------------------------------------------

bool RLOCK();
bool FLOCK();
// DBRLOCK([record]): locks the record (the current one when none is given) besides the ones
// held.
bool DBRLOCK(const rt::Value& record = {});
// DBUNLOCK(): releases the table lock and every record lock of the current work area.
bool DBUNLOCK();

// ---- Orders --------------------------------------------------------------------------------

// DBSETORDER(order): a number (0 natural order) or a tag name; a text whose numeric value
// is not zero counts as that number.
bool DBSETORDER(const rt::Value& order = {});
std::int64_t INDEXORD();
std::string INDEXKEY(const rt::Value& order = {});
std::string ORDNAME(const rt::Value& order = {}, const rt::Value& bag = {});
// ORDCONDSET(forText, forBlock, all, whileBlock, evalBlock, interval, start, next, record,
// rest, descend, additive, useCurrent, custom, noOptimize): the condition for the next index
// creation in the current work area.
bool ORDCONDSET(const rt::Value& forText = {}, const rt::Value& forBlock = {}, const rt::Value& all = {},
                const rt::Value& whileBlock = {}, const rt::Value& evalBlock = {},
                const rt::Value& interval = {}, const rt::Value& start = {}, const rt::Value& next = {},
                const rt::Value& record = {}, const rt::Value& rest = {}, const rt::Value& descend = {},
                const rt::Value& additive = {}, const rt::Value& useCurrent = {},
                const rt::Value& custom = {}, const rt::Value& noOptimize = {});
// ORDCREATE(bag, tag, keyText, keyBlock, unique): creates an index or tag, which becomes the
// current order, and goes to its first record.
bool ORDCREATE(const rt::Value& bag = {}, const rt::Value& tag = {}, const rt::Value& keyText = {},
               const rt::Value& keyBlock = {}, const rt::Value& unique = {});
// DBCREATEINDEX(file, keyText, keyBlock, unique): ORDCREATE with the file as bag, no tag.
bool DBCREATEINDEX(const rt::Value& file = {}, const rt::Value& keyText = {}, const rt::Value& keyBlock = {},
                   const rt::Value& unique = {});
bool DBCLEARINDEX();
// ORDLISTADD(bag): opens an index bag in the current work area.
bool ORDLISTADD(const rt::Value& bag = {}, const rt::Value& tag = {});
// INDEXEXT(): the index extension of the current work area's driver (of the default driver
// when none is open): ".cdx" for "ADS" with file type 2.
std::string INDEXEXT();

// ---- Relations -----------------------------------------------------------------------------

// DBSETRELATION(child, keyBlock, keyText): relates the work area named by child (alias or
// number) to the current one: whenever the current one moves, the child seeks the key in its
// current order (goes to that record number in natural order).
bool DBSETRELATION(const rt::Value& child = {}, const rt::Value& keyBlock = {},
                   const rt::Value& keyText = {});
bool DBCLEARRELATION();
// DBRSELECT(n): the work area number of the n-th relation's child (0 when none).
std::int64_t DBRSELECT(const rt::Value& n = {});
// DBRELATION(n): the key text of the n-th relation ("" when none).
std::string DBRELATION(const rt::Value& n = {});

// Compiles a key text into a code block for DBSETRELATION given a text without a block
// (installed with the macro compiler; without one such a relation is refused).
void setKeyCompiler(std::function<rt::Value(std::string_view text)> compiler);

// ---- For tests -----------------------------------------------------------------------------

// Closes every work area without running the drivers' exit steps, selects work area 1 and
// allows closeAllAreasAndExitDrivers to run again.
void resetWorkAreas();

} // namespace tables

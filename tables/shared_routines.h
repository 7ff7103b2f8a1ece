// The application's shared-table routines: opening a table, locking a record and appending
// one with retries while other processes hold them; building index tags; copying a record's
// fields to and from a list; saving and restoring a work area's position. And the small
// routines they call: SEGUNDOS, SYSREFRESH, OEMTOANSI, ANSITOOEM and MSGALERT.
//
// Attempt budgets are in seconds: each failed open costs 1, each failed lock or append 0.5; a
// loop runs while the budget is above 0, or without end when it started at 0; a negative
// budget allows no attempt in the loop.
#pragma once

#include "runtime/value.h"

#include <functional>
#include <string>

namespace tables {

// LNETUSE(file, exclusive = .F., seconds = 1, alias, showMessage = .T., spare, newArea = .T.):
// opens the table, retrying while the engine refuses it as held by another process; after the
// budget, warns "Fichero(s) bloqueado(s). Acceso Denegado" (unless showMessage is false) and
// answers false.
bool LNETUSE(const rt::Value& file, const rt::Value& exclusive = {}, const rt::Value& seconds = {},
             const rt::Value& alias = {}, const rt::Value& showMessage = {}, const rt::Value& spare = {},
             const rt::Value& newArea = {});

// LNETRECLOCK(seconds = 1): locks the current record, retrying; after the budget, warns "El
// registro que se intenta procesar está bloqueado" and answers false.
bool LNETRECLOCK(const rt::Value& seconds = {});

// LNETRECADD(seconds = 1): appends a record and locks it, retrying; false (no message) when the
// append was refused until the budget ran out.
bool LNETRECADD(const rt::Value& seconds = {});

// ASETSTATUS(alias): {RECNO(), INDEXORD()} of that work area.
rt::ArrayPtr ASETSTATUS(const rt::Value& alias);
// GETSTATUS(alias, status): in that work area, DBSETORDER(status[2]) then DBGOTO(status[1]).
void GETSTATUS(const rt::Value& alias, const rt::Value& status);

// CREATECDX(alias, key, tag, unique = .F., reset = .F.): a tag of the table's structural
// compound index, named by the base name of tag, keyed on the expression key.
void CREATECDX(const rt::Value& alias, const rt::Value& key, const rt::Value& tag = {},
               const rt::Value& unique = {}, const rt::Value& reset = {});
// CREAINDICE(alias, key, file, unique = .F., reset = .F., namedBag = .F., spare): an index
// named by the base name of file, in the structural compound index or, with namedBag, in the
// bag file as named.
void CREAINDICE(const rt::Value& alias, const rt::Value& key, const rt::Value& file = {},
                const rt::Value& unique = {}, const rt::Value& reset = {}, const rt::Value& namedBag = {},
                const rt::Value& spare = {});

// ACAMPOSLEE(): the current record's fields, texts converted to the ANSI code page.
rt::ArrayPtr ACAMPOSLEE();
// ACAMPOSGRABA(list): writes the fields in order, texts converted to the OEM code page; every
// field is tried; false when any write failed.
bool ACAMPOSGRABA(const rt::Value& list);

// DBFDBT(): does nothing.
void DBFDBT();

// SEGUNDOS(seconds): waits that long before the caller tries again.
void SEGUNDOS(const rt::Value& seconds);
// SYSREFRESH(): lets the thread's windows process their waiting messages.
bool SYSREFRESH();
// OEMTOANSI / ANSITOOEM: the text in the other code page, same length; a non-text answers "".
std::string OEMTOANSI(const rt::Value& text);
std::string ANSITOOEM(const rt::Value& text);
// MSGALERT(text, title): the warning box, through the runtime's message-box hook.
void MSGALERT(const rt::Value& text, const rt::Value& title = {});

// The waits and the message processing, replaceable so that tests count them instead of
// waiting. An empty function puts the default back (a real sleep; no message processing until
// the window system installs its own).
using SleepFunction = std::function<void(double seconds)>;
void setSleepFunction(SleepFunction fn);
using RefreshFunction = std::function<bool()>;
void setRefreshFunction(RefreshFunction fn);

// Registers the routines above by name, so that compiled expressions can call them.
void registerSharedRoutines();

// The platform's code-page conversion (one back end per system).
std::string oemToAnsi(std::string_view text);
std::string ansiToOem(std::string_view text);

} // namespace tables

#!/usr/bin/env bash
# End-to-end tests of the error handler under Wine: errtest.exe raises a chosen error,
# uidriver.exe reads and answers the error dialog as a user would, and this script checks
# what is left behind: "Error.log", the notes of errtest, the stop box and the exit code.
# Screenshots of the dialog with 1, 2 and 3 buttons land in <build>/e2e_errors/screenshots.
# Every case runs in one Wine virtual desktop, "errors" (it draws window frames for the
# screenshots); the prefix's registry names it for errtest.exe and uidriver.exe (and the editor
# that errtest starts), so the programs start directly, their exit codes come back, and the
# desktop is made the one way Wine makes any desktop, by the first program that needs it.
# About 20 program starts under Wine, each with its windows and the driver's looks at them: the
# suite takes longer than 10 s (some 20 s on a quiet 2-core machine).
#
# usage: run.sh <errtest.exe> <uidriver.exe> <build folder>
# Uses DISPLAY when set (scripts/test runs one Xvfb for all suites), else starts an Xvfb of its
# own. The Wine prefix is WINEPREFIX, else <build folder>/wineprefix.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/lib.sh"
errtest=$(realpath "$1")
wine_for "$errtest"
driver=$(realpath "$2")
build=$(realpath "$3")
out=$build/e2e_errors
shots=$out/screenshots
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}

fresh_suite "$out"
mkdir -p "$shots"

desktop=errors
virtual_desktop "$out/desktop.reg" "$desktop" 640x480 errtest.exe uidriver.exe notepad.exe
trap 'no_virtual_desktop errtest.exe uidriver.exe notepad.exe; end_display' EXIT

dialog="Velloro for Quendar"
dir=
pid=

# start <case> <errtest command>: runs errtest in a fresh folder of its own.
start() {
  current=$1
  dir=$out/$1
  mkdir -p "$dir"
  (cd "$dir" && exec "$wine" "$errtest" "$2" >"$dir/wine.out" 2>&1) &
  pid=$!
}

# The notes errtest left: has <key=value> / lacks <key=value>.
has() { grep -qxF "$1" "$dir/result.txt" 2>/dev/null; }
lacks() { [ -f "$dir/result.txt" ] && ! grep -qF "$1" "$dir/result.txt"; }
# The dump of the dialog shows <exact line> (controls without their rectangles).
shows() { dump_shows "$dir/dump.txt" "$1"; }
# The report holds <text>; \r, \n and \xNN in the text stand for those bytes.
report_holds() { holds "$dir/Error.log" "$1"; }
no_report() { [ ! -e "$dir/Error.log" ]; }

# shot <name>: the error dialog cut out of the virtual desktop, as <shots>/<name>.png.
shot() {
  sleep 0.5  # let the dialog finish painting
  local rect
  read -r -a rect <<<"$(awk '$1 == "window" { print $4 - $2, $5 - $3, $2, $3; exit }' "$dir/dump.txt")"
  if [ ${#rect[@]} -eq 4 ] && desk_shot "$desktop" "$shots/$1.png" "${rect[@]}"; then
    ok "screenshot $shots/$1.png"
  else
    fail "screenshot $1.png"
  fi
}

# The buttons of the row from left to right: "caption default|push", separated by "; ".
buttons() {
  awk '$1 == "control" && tolower($2) == "button" {
         text = $0; for (i = 0; i < 7; i++) sub(/^[^ ]+ /, "", text)
         if (text == "See Error.log file") next
         printf "%d %s %s\n", $4, text, (substr($3, length($3)) == "1" ? "default" : "push")
       }' "$dir/dump.txt" | sort -n | cut -d" " -f2- | awk '{ printf "%s%s", sep, $0; sep = "; " } END { print "" }'
}

# ---- silent cases ------------------------------------------------------------------------

start zerodiv zerodiv
finish 0
expect "division by zero gives 0" has "quotient=0"
expect "no report" no_report

start neterr neterr
finish 0
expect "refused open sets NETERR()" has "neterr=.t."
expect "the open takes the default" has "recovery=default"
expect "no report" no_report

# ---- an argument error: the report, one button, the report button, Quit ------------------

start argerror argerror
if drv wait "$dialog" 20; then
  drv dump "$dialog" >"$dir/dump.txt"
  expect "description label" shows "Static 50000081    Error description: Error BASE/1102  Argument error: UPPER\r\n"
  expect "stack list" shows "item    Called from UPPER(0)"
  expect "first stack line selected" shows "selected 0"
  expect "only Quit, as the default button" test "$(buttons)" = "&Quit default"
  shot dialog-1-button
  drv press "$dialog" "See Error.log file"
  if drv closetitled "error.log" 20 >"$dir/editor.txt"; then
    ok "the report button starts the editor on error.log ($(cat "$dir/editor.txt"))"
  else
    fail "no editor window for error.log"
  fi
  expect "the dialog stays open" drv wait "$dialog" 2
  drv press "$dialog" "&Quit"
else
  fail "no error dialog"
fi
finish 1
expect "report: application section" report_holds "Application\r\n===========\r\n   Path and name: "
expect "report: description and args" report_holds "   Error description: Error BASE/1102  Argument error: UPPER\r\n   Args:\r\n     [   1] = N   5\r\n"
expect "report: stack" report_holds "Stack Calls\r\n===========\r\n   Called from UPPER(0)\r\n   Called from MAIN("
expect "report: variables" report_holds "   MAIN\r\n     Param   1:    C    \"argerror\"\r\n"
expect "report: windows version" report_holds "   Windows version: "
expect "report: memory section ends it" report_holds "      Highest Value: "
expect "report ends with CR LF and byte 26" test "$(tail -c 3 "$dir/Error.log" | od -An -tx1 | tr -d ' ')" = "0d0a1a"
expect "the routine did not go on" lacks "after="

# ---- two and three buttons, answered before any event loop runs ---------------------------

start retry retry
if drv wait "$dialog" 20; then
  drv dump "$dialog" >"$dir/dump.txt"
  expect "Quit and Retry, no default" test "$(buttons)" = "&Quit push; &Retry push"
  shot dialog-2-buttons-retry
  drv press "$dialog" "&Retry"
else
  fail "no error dialog"
fi
finish 1
expect "a retry before any event loop ends the process" lacks "recovery="

start default default
if drv wait "$dialog" 20; then
  drv dump "$dialog" >"$dir/dump.txt"
  expect "Quit and Default, no default" test "$(buttons)" = "&Quit push; &Default push"
  shot dialog-2-buttons-default
  drv press "$dialog" "&Default"
else
  fail "no error dialog"
fi
finish 0
expect "Default gives the default result" has "recovery=default"
expect "the program goes on" has "end=normal"

start both-close both
if drv wait "$dialog" 20; then
  drv dump "$dialog" >"$dir/dump.txt"
  expect "Retry, Quit (default), Default" test "$(buttons)" = "&Retry push; &Quit default; &Default push"
  shot dialog-3-buttons
  drv close "$dialog"
else
  fail "no error dialog"
fi
finish 1
expect "the close box quits" lacks "recovery="

start both-escape both
if drv wait "$dialog" 20; then
  drv escape "$dialog"
else
  fail "no error dialog"
fi
finish 1
expect "the cancel key quits" lacks "recovery="

# ---- answers while an event loop runs; a second error goes to the stop box ----------------

start retry-loop retry-loop
if drv wait "$dialog" 20; then
  drv press "$dialog" "&Retry"
  drv box Stop 20 >"$dir/stop.txt" && drv ok Stop || fail "no stop box"
else
  fail "no error dialog"
fi
finish 1
expect "an event loop ran" has "eventloop=.t."
expect "Retry retries" has "recovery=retry"
expect "the second attempt" has "attempt=2"
# The whole text of the box, on one line.
expect "stop box text" grep -qzxE '\(DOS Error 2\) DBFCDX/1001  Open error: clientes\.dbf from Errorsys, line: +[0-9]+' "$dir/stop.txt"

start default-loop both-loop
if drv wait "$dialog" 20; then
  drv press "$dialog" "&Default"
else
  fail "no error dialog"
fi
finish 0
expect "Default while the loop runs" has "recovery=default"
expect "the program goes on" has "end=normal"

# ---- the label shows the text as it is -------------------------------------------------

start ampersand ampersand
if drv wait "$dialog" 20; then
  drv dump "$dialog" >"$dir/dump.txt"
  expect "ampersand and accented letter unchanged, no prefix" \
    shows "$(printf 'Static 50000081    Error description: Error BASE/1108  Argument error A&B in a\xf1o: AT\\r\\n')"
  drv press "$dialog" "&Quit"
else
  fail "no error dialog"
fi
finish 1

# ---- a dialog template that cannot be found: framework error 3 -----------------------------

start notemplate notemplate
if drv wait "$dialog" 20; then
  drv dump "$dialog" >"$dir/dump.txt"
  expect "framework error description" shows "Static 50000081    Error description: Error Velloro/3  Cannot create Dialog Box: \r\nResource: PRINCIPAL\r\n"
  expect "only Quit" test "$(buttons)" = "&Quit default"
  drv press "$dialog" "&Quit"
else
  fail "no error dialog"
fi
finish 1
expect "report row" report_holds "   Error description: Error Velloro/3  Cannot create Dialog Box: \r\nResource: PRINCIPAL\r\n"

# ---- unrecoverable errors ---------------------------------------------------------------

start unrecoverable-9001 unrecoverable-9001
finish 1
expect "9001 written" grep -qF "Unrecoverable error 9001: Error recovery failure" "$dir/errout.txt"

start unrecoverable-9002 unrecoverable-9002
finish 1
expect "9002 written" grep -qF "Unrecoverable error 9002: No ERRORBLOCK() for error" "$dir/errout.txt"

start unrecoverable-9003 unrecoverable-9003
finish 1
expect "8 launches nested" has "depth=8"
expect "no ninth" lacks "depth=9"
expect "9003 written" grep -qF "Unrecoverable error 9003: Too many recursive error handler calls" "$dir/errout.txt"

summary e2e_errors

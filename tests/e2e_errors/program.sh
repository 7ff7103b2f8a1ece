#!/usr/bin/env bash
# The installer itself without its resource library: the main dialog cannot be created, and
# the error handler must leave a complete "Error.log", show the error dialog with "&Quit" alone
# and end the process with exit code 1 (by "&Quit" and equally by the close box); the report
# button starts the editor and the dialog stays.
#
# usage: program.sh <instayuda.exe> <uidriver.exe> <build folder>
# Uses DISPLAY when set, else starts an Xvfb of its own. The Wine prefix is WINEPREFIX, else
# <build folder>/wineprefix.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/lib.sh"
program=$(realpath "$1")
wine_for "$program"
driver=$(realpath "$2")
build=$(realpath "$3")
out=$build/e2e_errors_program
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}

fresh_suite "$out"

dialog="Velloro for Quendar"
dir=
pid=

# start <case>: the program alone in a folder of its own (so "progdll.dll" is not found
# beside it), started there with a help-file argument.
start() {
  current=$1
  dir=$out/$1
  mkdir -p "$dir"
  cp "$program" "$dir/instayuda.exe"
  (cd "$dir" && exec "$wine" "$dir/instayuda.exe" 'C:\ayuda\norvceni.chm' >"$dir/wine.out" 2>&1) &
  pid=$!
}

shows() { dump_shows "$dir/dump.txt" "$1"; }
report_holds() { holds "$dir/Error.log" "$1"; }
report_matches() {  # a Perl pattern over the whole report
  [ -f "$dir/Error.log" ] && PAT=$1 perl -0777 -ne 'exit(/$ENV{PAT}/m ? 0 : 1)' "$dir/Error.log"
}

# ---- "&Quit", after the report button -----------------------------------------------------

start quit
if drv wait "$dialog" 30; then
  drv dump "$dialog" >"$dir/dump.txt"
  expect "description label" \
    shows 'Static 50000081    Error description: Error Velloro/3  Cannot create Dialog Box: \r\nResource: PRINCIPAL\r\n'
  expect "one button: Quit, the default" \
    test "$(grep -c '^control Button' "$dir/dump.txt")" = 2 -a -n "$(grep -E '^control Button [0-9a-f]*1 .* &Quit$' "$dir/dump.txt")"
  expect "the stack list starts at the dialog's activation" grep -qE '^item    Called from TDIALOG:ACTIVATE\([0-9]+\)$' "$dir/dump.txt"
  expect "the stack list reaches MAIN" grep -qE '^item    Called from MAIN\([0-9]+\)$' "$dir/dump.txt"
  drv press "$dialog" "See Error.log file"
  if drv closetitled "error.log" 20 >"$dir/editor.txt"; then
    ok "the report button starts the editor ($(cat "$dir/editor.txt"))"
  else
    fail "no editor window for error.log"
  fi
  expect "the dialog stays open" drv wait "$dialog" 2
  drv press "$dialog" "&Quit"
else
  fail "no error dialog"
fi
finish 1

size=$(stat -c %s "$dir/instayuda.exe")
size_text=$(printf '%9s' "$(echo "$size" | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta')")
expect "report: path of the program" report_matches '^   Path and name: [A-Z]:\\.*\\instayuda\.exe \((32|64) bits\)\r$'
expect "report: size of the program ($size bytes)" report_holds "   Size: ${size_text} bytes\r\n"
expect "report: time from start" report_matches '^   Time from start: 0 hours 0 mins [0-9]+ secs \r$'
expect "report: date and time" report_matches '^   Error occurred at: \d\d-\d\d-\d\d, \d\d:\d\d:\d\d\r$'
expect "report: description" report_holds "   Error description: Error Velloro/3  Cannot create Dialog Box: \r\nResource: PRINCIPAL\r\n\r\nStack Calls\r\n===========\r\n   Called from TDIALOG:ACTIVATE("
expect "report: stack down to MAIN" report_matches '^   Called from MAIN\(\d+\)\r$'
expect "report: CPU" report_matches '^   CPU type: .+ \d+ Mhz\r$'
expect "report: memory" report_matches '^   Hardware memory: \d+ megs\r\n\r\n   Free System resources: 90 %\r$'
expect "report: Windows version" report_matches '^   Windows version: \d+\.\d+, Build \d+ .*\r\n\r\n   Windows total applications running: \d+\r$'
expect "report: variables of MAIN" report_matches '^   MAIN\r\n     Param   1:    C    "C:\\ayuda\\norvceni\.chm"\r$'
expect "report: linked drivers" report_holds "\r\n\r\nLinked RDDs\r\n===========\r\n"
expect "report: classes" report_matches '^\s+\d+ TDIALOG\r$'
expect "report: memory counters" report_matches '^      Actual  Value: +\d+ bytes\r\n      Highest Value: +\d+ bytes\r\n\x1a\z'

# ---- the close box ---------------------------------------------------------------------

start close
if drv wait "$dialog" 30; then
  drv close "$dialog"
else
  fail "no error dialog"
fi
finish 1

summary e2e_errors_program

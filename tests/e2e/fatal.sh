#!/usr/bin/env bash
# The process's last resort under Wine: an exception in a static initialiser, in WinMain before
# the program runs, and a second one while the first ends the process. Each time the process
# ends with exit code 1 and its line at the end of "Error.log" in the current folder (before,
# such a process aborted with exit code 3 and left no line anywhere). No window is involved.
#
# usage: fatal.sh <fataltest.exe> <out folder>
set -u
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
program=$(realpath "$1")
wine_for "$program"
out=$2
export WINEPREFIX=${WINEPREFIX:-$(dirname "$(dirname "$program")")/wineprefix}
mkdir -p "$out/fatal"
out=$(realpath "$out/fatal")
own_display || exit 1
trap end_display EXIT
wine_prefix "$out/wineboot.log"

# fault <name> <expected exit code> <line expected in Error.log, or "">
fault() {
  current=$1
  local dir=$out/$1
  rm -rf "$dir"
  mkdir -p "$dir"
  (cd "$dir" && FATALTEST=$1 exec "$wine" "$program" >"$dir/output.txt" 2>&1)
  local rc=$?
  if [ "$rc" = "$2" ]; then ok "exit code $rc"; else fail "exit code $rc, expected $2"; fi
  if [ -n "$3" ]; then
    expect "the line in Error.log" same "$dir/Error.log" "$3"
  else
    expect "no Error.log" test ! -e "$dir/Error.log"
  fi
}

fault none 0 ''
fault static 1 '\r\nUnrecoverable error 9010: Exception left the program: static initialiser\r\n'
fault winmain 1 '\r\nUnrecoverable error 9010: Exception left the program: start-up step\r\n'
fault second 1 '\r\nUnrecoverable error 9010: Exception left the program\r\n'

summary e2e_fatal

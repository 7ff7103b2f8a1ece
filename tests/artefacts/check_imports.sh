#!/usr/bin/env bash
# check_imports.sh <objdump> <binary...>
# What the loader must do before a program runs: a program imports only the system libraries its
# start-up uses (kernel32, user32, gdi32 and the C runtime msvcrt); others, such as shell32 and
# comdlg32, are loaded when a rare path first needs them. Every binary's sections are aligned to
# pages in the file, so that the loader can map them from the file instead of reading them all.
set -u
objdump=$1
shift
failures=0
fail() {
  echo "FAIL $name: $*"
  failures=$((failures + 1))
}

for bin in "$@"; do
  name=$(basename "$bin")
  if ! dump=$("$objdump" -p "$bin" 2>&1); then
    fail "objdump cannot read it: $dump"
    continue
  fi
  alignment=$(awk '$1 == "FileAlignment" {print $2}' <<<"$dump")
  [ "$alignment" = 00001000 ] || fail "file alignment is ${alignment:-missing}, not 00001000"
  case "$name" in
    *.exe)
      while read -r dll; do
        case "${dll,,}" in
          kernel32.dll | user32.dll | gdi32.dll | msvcrt.dll) ;;
          *) fail "imports $dll, which the start-up does not need" ;;
        esac
      done < <(awk '/DLL Name:/ {print $3}' <<<"$dump")
      ;;
  esac
  echo "checked $name"
done
[ $failures -eq 0 ]

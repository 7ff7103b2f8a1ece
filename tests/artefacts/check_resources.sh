#!/usr/bin/env bash
# check_resources.sh <windres> <project version> <x86|amd64> <binary...>
# Each binary has a version resource whose numbers and texts give the project version, a
# description and our copyright line, in a Spanish and an English block. A program (.exe) has the
# application manifest as resource 1 of type 24, for its own architecture; a DLL has none.
# progdll.dll still holds the dialog template and the bitmap the program loads from it.
set -u
windres=$1 version=$2 arch=$3
shift 3
IFS=. read -r major minor patch tweak <<<"$version"
numbers="$major, ${minor:-0}, ${patch:-0}, ${tweak:-0}"
dotted="$major.${minor:-0}.${patch:-0}.${tweak:-0}"
failures=0
fail() {
  echo "FAIL $name: $*"
  failures=$((failures + 1))
}
has() { grep -qF -- "$1" <<<"$dump"; }
count() { grep -cF -- "$1" <<<"$dump"; }

for bin in "$@"; do
  name=$(basename "$bin")
  if ! dump=$("$windres" -J coff -i "$bin" -O rc 2>&1); then
    fail "the resource compiler cannot read it: $dump"
    continue
  fi
  has " FILEVERSION $numbers" || fail "file version is not $numbers"
  has " PRODUCTVERSION $numbers" || fail "product version is not $numbers"
  has 'BLOCK "0C0A04E4"' || fail "no Spanish block"
  has 'BLOCK "040904E4"' || fail "no English block"
  [ "$(count "VALUE \"FileVersion\", \"$dotted\"")" = 2 ] || fail "FileVersion text is not $dotted"
  [ "$(count "VALUE \"ProductVersion\", \"$version\"")" = 2 ] || fail "ProductVersion text is not $version"
  [ "$(count "VALUE \"OriginalFilename\", \"$name\"")" = 2 ] || fail "OriginalFilename is not $name"
  [ "$(count 'VALUE "LegalCopyright", L"Copyright \251')" = 2 ] || fail "no copyright line"
  [ "$(count 'VALUE "FileDescription", ')" = 2 ] || fail "no description"
  has 'VALUE "Translation", 0xc0a, 1252, 0x409, 1252' || fail "no translation table"
  case "$name" in
    *.exe)
      has '1 24 /* RT_MANIFEST */' || fail "no application manifest"
      has 'level=""asInvoker""' || fail "manifest: not asInvoker"
      has '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}' || fail "manifest: Windows 7 not supported"
      has 'name=""Microsoft.Windows.Common-Controls"" version=""6.0.0.0""' || fail "manifest: no common controls 6"
      has '>true</dpiAware>' || fail "manifest: not DPI aware"
      has "processorArchitecture=\"\"$arch\"\"" || fail "manifest: architecture is not $arch"
      ;;
    *.dll)
      has '/* RT_MANIFEST */' && fail "a DLL carries a manifest"
      ;;
  esac
  if [ "$name" = progdll.dll ]; then
    has 'Name: "PRINCIPAL"' || fail "no dialog PRINCIPAL"
    has 'Name: "NORVALED"' || fail "no bitmap norvaled"
  fi
  echo "checked $name"
done
[ $failures -eq 0 ]

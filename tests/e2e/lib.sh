# Shell helpers shared by the end-to-end suites (tests/e2e/run.sh, tests/e2e_errors/run.sh and
# program.sh) and scripts/demo: Wine and its prefix, an X server of our own when there is no
# display, Wine virtual desktops (their registry settings, screenshots, real mouse clicks), the
# driver, the checks and their tally, waiting for the program under test, and the demo drive's
# installations. Source it; set WINEPREFIX before calling wine_prefix, and driver (the path of
# uidriver.exe) before calling drv.

# The Wine loader: wine64 runs 64-bit programs; wine (the wine32 package, where the machine
# runs 32-bit code) runs 32-bit ones, and 64-bit ones too, in the same prefix. wine_for picks it.
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
export WINEDEBUG=-all
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# ---- the prefix, the X server, virtual desktops ------------------------------------------

# pe_bits <program>: 32 or 64, from the machine field of the Windows program's PE header.
pe_bits() {
  local at machine
  at=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  machine=$(od -An -tx2 -j$((at + 4)) -N2 "$1" | tr -d ' ')
  if [ "$machine" = 014c ]; then echo 32; else echo 64; fi
}

# wine_for <program>: wine becomes the loader that runs that program.
wine_for() {
  if [ "$(pe_bits "$1")" = 32 ]; then wine=/usr/lib/wine/wine; else wine=/usr/lib/wine/wine64; fi
}

# wine_prefix <log file>: makes the prefix WINEPREFIX when it does not exist yet (5 to 20 s). The
# 64-bit loader makes it, so that it hosts 64-bit and 32-bit programs alike.
wine_prefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  mkdir -p "$WINEPREFIX"
  /usr/lib/wine/wine64 wineboot -i >"$1" 2>&1
  wine_fonts
}

# wine_fonts: Wine's own fonts (the fonts-wine package: Tahoma, MS Sans Serif, Marlett for the
# glyphs of the title bar's buttons) in the prefix's Fonts folder, where every Wine program finds
# them. This Wine does not look in the package's folder itself; without them a title bar's close
# box shows the letter "r" and texts take a substitute font.
wine_fonts() {
  local fonts=$WINEPREFIX/drive_c/windows/Fonts
  [ -d /usr/share/wine/fonts ] && [ -d "$fonts" ] || return 0
  ln -sf /usr/share/wine/fonts/*.ttf "$fonts/" 2>/dev/null || true
}

# wine_session <log file>: the prefix ready for a suite. Run by hand (the script started its own
# X server), the suite gets a Wine server of its own that stays up until end_display, as ctest
# gives each test run one (cmake/wine-session says why: a server that ends with each program
# kills or cuts off programs that start while it shuts down). Under ctest or scripts/test the
# run's server is there already. Makes the prefix when it does not exist yet.
wine_session() {
  if [ -n "$xvfb" ]; then
    mkdir -p "$WINEPREFIX"
    "$wineserver" -k 2>/dev/null
    "$wineserver" -w 2>/dev/null
    "$wineserver" -p </dev/null >/dev/null 2>&1
  fi
  wine_prefix "$1"
}

# own_display: when DISPLAY is not set, starts an Xvfb and sets DISPLAY once the server accepts
# connections; xvfb is its process id (empty when a display was there already). The server
# picks a free display number itself and reports it through -displayfd only when it is ready,
# so neither a number taken by another server nor a slow start can hand the suites a display
# that is not there.
xvfb=
own_display() {
  [ -n "${DISPLAY:-}" ] && return 0
  local numfile n=
  numfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$numfile" >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 1 300); do  # up to 30 s
    n=$(tr -dc 0-9 <"$numfile")
    [ -n "$n" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$numfile"
  if [ -z "$n" ]; then
    kill "$xvfb" 2>/dev/null
    xvfb=
    echo "cannot start Xvfb"
    return 1
  fi
  export DISPLAY=:$n
  return 0
}

# end_display: stops the prefix's Wine server and the Xvfb, when own_display started one.
end_display() {
  [ -n "$xvfb" ] || return 0
  "$wineserver" -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  xvfb=
  return 0
}

# fresh_suite <out folder>: empties the folder, makes sure of a display (an Xvfb of the suite's
# own when DISPLAY is unset, stopped when the script exits) and boots the Wine prefix.
fresh_suite() {
  rm -rf "$1"
  mkdir -p "$1"
  own_display || exit 1
  trap end_display EXIT
  wine_session "$1/wineboot.log"
}

# virtual_desktop <reg file> <name> <size> [program...]: the named programs (file names such as
# prog.exe), or every program when none is named, start in the Wine virtual desktop <name> of
# <size> (such as 800x600), which draws window frames without a window manager. The settings
# are written to <reg file> and imported into the prefix.
virtual_desktop() {
  local file=$1 name=$2 size=$3
  shift 3
  {
    printf 'REGEDIT4\r\n\r\n'
    if (($#)); then
      local exe
      for exe in "$@"; do
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s\\Explorer]\r\n"Desktop"="%s"\r\n\r\n' "$exe" "$name"
      done
    else
      printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\r\n"Desktop"="%s"\r\n\r\n' "$name"
    fi
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\r\n"%s"="%s"\r\n' "$name" "$size"
  } >"$file"
  "$wine" regedit /S "Z:${file//\//\\}" >/dev/null 2>&1
}

# no_virtual_desktop <program...>: those programs start as before virtual_desktop named them.
no_virtual_desktop() {
  local exe
  for exe in "$@"; do
    "$wine" reg delete "HKCU\\Software\\Wine\\AppDefaults\\$exe\\Explorer" /f >/dev/null 2>&1 || true
  done
  return 0
}

# desk_geometry <desktop>: "x y width height" of the virtual desktop's window on the X screen
# ("0 0 800 600" when it is not found).
desk_geometry() {
  local id
  id=$(xdotool search --name "^$1 - Wine desktop\$" 2>/dev/null | head -1) || true
  if [ -z "$id" ]; then
    echo "0 0 800 600"
    return
  fi
  xdotool getwindowgeometry --shell "$id" |
    awk -F= '{ v[$1] = $2 } END { print v["X"] + 0, v["Y"] + 0, v["WIDTH"] + 0, v["HEIGHT"] + 0 }'
}

# desk_shot <desktop> <png file> [width height x y]: a screenshot of the virtual desktop, or of
# that rectangle of it (in desktop coordinates).
desk_shot() {
  local g
  read -r -a g <<<"$(desk_geometry "$1")"
  local crop="${g[2]}x${g[3]}+${g[0]}+${g[1]}"
  [ $# -ge 6 ] && crop="$3x$4+$((g[0] + $5))+$((g[1] + $6))"
  import -window root -crop "$crop" +repage "$2" 2>/dev/null
}

# desk_click <desktop> <x> <y>: a real left click at desktop coordinates.
desk_click() {
  local g
  read -r -a g <<<"$(desk_geometry "$1")"
  xdotool mousemove $((g[0] + $2)) $((g[1] + $3)) click 1
  sleep 0.3
}

# ---- the driver, the checks, the program under test ---------------------------------------

# drv <command> <argument...>: uidriver.exe (see its head for the commands). Its output goes
# through a file: a Wine helper process that the driver happens to start (a desktop's explorer,
# a service) keeps the driver's output handles for as long as it lives, and a pipe held that way
# would keep a command substitution, or ctest reading the suite's output, waiting for it.
drv() {
  local file rc
  file=$(mktemp)
  "$wine" "$driver" "$@" >"$file" 2>/dev/null </dev/null
  rc=$?
  cat "$file"
  rm -f "$file"
  return $rc
}

# dump_shows <dump file> <line>: a dump of uidriver has that line once the controls' rectangles
# are left out ("class style text" for a control, "item text", "selected n").
dump_shows() {
  sed -E 's/^control ([^ ]+) ([^ ]+) [-0-9]+ [-0-9]+ [-0-9]+ [-0-9]+ /\1 \2 /' "$1" | grep -qaxF -- "$2"
}

# Each check prints "ok" or "FAIL" with the case it belongs to (current) and is counted.
failures=0
checks=0
current=
fail() {
  echo "FAIL [$current] $*"
  failures=$((failures + 1))
  checks=$((checks + 1))
}
ok() {
  echo "ok   [$current] $*"
  checks=$((checks + 1))
}
# expect <description> <command...>: the command must succeed.
expect() {
  local what=$1
  shift
  if "$@"; then ok "$what"; else fail "$what"; fi
}
# summary <suite>: the tally; fails when a check failed.
summary() {
  echo
  echo "$1: $((checks - failures)) passed, $failures failed"
  [ $failures -eq 0 ]
}

# bytes <text>: the text with \r, \n and \xNN turned into those bytes.
bytes() { printf '%b' "$1"; }
# same <file> <text>: the file holds exactly those bytes.
same() { cmp -s "$1" <(bytes "$2"); }
# holds <file> <text>: those bytes appear somewhere in the file.
holds() { [ -f "$1" ] && PAT=$(bytes "$2") perl -0777 -ne 'exit(index($_, $ENV{PAT}) >= 0 ? 0 : 1)' "$1"; }

# finish <expected exit code>: the program started in the background as pid ends within 30 s
# with that exit code.
finish() {
  local waited=0
  while kill -0 "$pid" 2>/dev/null && [ $waited -lt 300 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  if kill -0 "$pid" 2>/dev/null; then
    fail "the program did not end"
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    pid=
    return
  fi
  wait "$pid"
  local rc=$?
  pid=
  if [ "$rc" = "$1" ]; then ok "exit code $rc"; else fail "exit code $rc, expected $1"; fi
}

# ---- the installer's test data ------------------------------------------------------------

# installation <folder> <program size> <release mark, or "-" for no version table>: a folder as
# the installer looks for it, with a program of that size (sparse) and a version table.
installation() {
  mkdir -p "$1"
  truncate -s "$2" "$1/norvalew.exe"
  if [ "$3" != "-" ]; then
    mkdir -p "$1/emp"
    # A table header, field descriptions and a record; the release mark in the record.
    { printf '\x03\x79\x0c\x08\x01\x00\x00\x00\x41\x00\x0b\x00'; head -c 20 /dev/zero
      printf 'VERSION\0\0\0\0C\0\0\0\0\x0a\0'; head -c 14 /dev/zero; printf '\x0d %-10s\x1a' "$3"; } >"$1/emp/versione.dbf"
  fi
}
# hide <path>: the Windows hidden attribute, as Wine keeps it.
hide() { setfattr -n user.DOSATTRIB -v '"0x2"' "$1"; }

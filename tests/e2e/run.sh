#!/usr/bin/env bash
# End-to-end tests of the installer: the real instayuda.exe under Wine, in a Wine virtual desktop
# on an X display, driven as a user would drive it. uidriver.exe reads and pokes its windows
# from inside the same desktop; xdotool gives real mouse clicks and key presses. The checks are
# what a user sees (texts byte for byte) and what lands on disk (the help file's bytes, in the
# right folders only), and the exit code. Screenshots of every visible state are kept in
# <out>/shots.
#
# usage: run.sh <group> <instayuda.exe> <uidriver.exe> <out folder>
#   groups: dialog refuse exit install notfound paths copyfail noresources unattended (or "all")
# Uses DISPLAY when set (scripts/test runs one Xvfb for the whole suite), else starts an Xvfb of
# its own. The Wine prefix is WINEPREFIX, else wineprefix beside the program's bin folder.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
group=$1
program=$(realpath "$2")
wine_for "$program"
driver=$(realpath "$3")
out=$4
bin=$(dirname "$program")
export WINEPREFIX=${WINEPREFIX:-$(dirname "$bin")/wineprefix}
mkdir -p "$out/shots"
out=$(realpath "$out")
shots=$out/shots
current=$group

# ---- display, prefix, desktop, drives ----------------------------------------------------

own_display || exit 1
wine_session "$out/wineboot.log"

# Both programs start in the virtual desktop "e2e" (it draws window frames, and the driver sees
# the program's windows there). The setting is scoped to the two program names and is removed
# afterwards, so other suites in the same prefix see their programs as before.
desktop=e2e
virtual_desktop "$out/desktop.reg" "$desktop" 800x600 instayuda.exe uidriver.exe

drives=$out/drives
mapped=()
immutable=()
# map <letter> <folder>: the folder becomes that drive in the prefix.
map() {
  local link=$WINEPREFIX/dosdevices/$1:
  rm -f "$link"
  mkdir -p "$2"
  ln -s "$2" "$link"
  mapped+=("$link")
}
# free_letter: a drive letter that the prefix does not map.
free_letter() {
  for l in q p o n m l k j; do
    [ -e "$WINEPREFIX/dosdevices/$l:" ] || [ -L "$WINEPREFIX/dosdevices/$l:" ] || {
      echo "$l"
      return
    }
  done
}

pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  for f in "${immutable[@]}"; do chattr -i "$f" 2>/dev/null; done
  for l in "${mapped[@]}"; do rm -f "$l"; done
  no_virtual_desktop instayuda.exe uidriver.exe
  end_display
}
trap cleanup EXIT

# ---- the program, the driver, the screen -------------------------------------------------

# Window titles and items go to the driver with \xNN escapes for the accented letters.
dlg=' Instalaci\xf3n de Ayuda para Norvaledo C\xe9nit v.2009 R07'

# start <case> <program> <argument...>: starts the program in the background, its output in
# <out>/<case>/output.txt.
start() {
  current=$1
  local exe=$2
  shift 2
  mkdir -p "$out/$current"
  "$wine" "$exe" "$@" >"$out/$current/output.txt" 2>&1 &
  pid=$!
}

running() { kill -0 "$pid" 2>/dev/null; }

# shot <name>: a screenshot of the virtual desktop.
shot() { desk_shot "$desktop" "$shots/$current-$1.png" || echo "note: no screenshot $current-$1"; }
# mouse <x> <y>: a real left click at desktop coordinates.
mouse() { desk_click "$desktop" "$1" "$2"; }
# click_control <window title> <id>: a real left click in the middle of a control.
click_control() {
  local r
  read -r -a r <<<"$(drv rect "$1" "$2")" || return 1
  [ ${#r[@]} -eq 4 ] || return 1
  mouse $(((r[0] + r[2]) / 2)) $(((r[1] + r[3]) / 2))
}
# bring_to_front <title>: waits for a window and brings it to the front as a user would, with a
# click on the desktop and one on the window's title bar. (A window shown by a program that has
# not had the X focus yet is drawn with an inactive title bar until it is activated again.)
bring_to_front() {
  drv wait "$1" 30 || return 1
  local r
  read -r -a r <<<"$(drv rect "$1")"
  mouse 4 4
  mouse $((r[0] + 60)) $((r[1] + 10))
}
show_dialog() { bring_to_front "$dlg"; }
# keys <key...>: real key presses (Wine takes them once a click has given it the focus).
keys() {
  xdotool key --delay 100 "$@"
  sleep 0.5
}

# The texts a user must see.
start_text='Este proceso instala la Ayuda de NORVALEDO C\xc9NIT v.2009 Release 07.\n\r\n\rPor favor, seleccione UNIDAD de proceso :'
installed_title=' Proceso finalizado'
installed_text='La AYUDA de Norvaledo C\xe9nit se instal\xf3 correctamente.'
notfound_title=' Atenci\xf3n'
notfound_text='En la UNIDAD seleccionada no se encontr\xf3 ning\xfan Norvaledo C\xe9nit v.2009 R07.\n\r\n\rAyuda NO instalada.'

# ---- the demo trees ----------------------------------------------------------------------

# A drive with installations that must and must not receive the help file.
mixed_drive() {
  local v=$1/Vendrax
  rm -rf "$1"
  installation "$v/EMPRESA1" 6524928 2009/1
  installation "$v/Empresa2" 6524928 2009/12
  printf 'old help' >"$v/Empresa2/norvceni.chm"
  installation "$v/GRANDE" 6524929 2009/1
  installation "$v/NUEVA" 6524928 2009/2
  installation "$v/SINTABLA" 6524928 -
  installation "$v/OCULTA" 6524928 2009/1
  hide "$v/OCULTA"
  installation "$v/PROGOCULTO" 6524928 2009/1
  hide "$v/PROGOCULTO/norvalew.exe"
  printf 'notas\r\n' >"$v/leeme.txt"
}
accepted_mixed=(EMPRESA1 Empresa2)

# The help file: every byte value, NUL, CR, LF and ^Z included.
help_file() {
  mkdir -p "$(dirname "$1")"
  local all
  all=$(printf '\\x%02x' {0..255}) # one subshell, not one per byte
  printf '%b%b%b' "$all" "$all" "$all" >"$1"
}

# installed_in <vendor folder>: the folders that hold norvceni.chm, sorted, one per line.
installed_in() {
  (cd "$1" && find . -iname norvceni.chm -printf '%h\n' | sed 's|^\./||' | sort)
}
# holds_help <vendor folder> <help file> <folder...>: exactly those folders hold an exact copy.
holds_help() {
  local vendor=$1 help=$2
  shift 2
  [ "$(installed_in "$vendor")" = "$(printf '%s\n' "$@" | sort)" ] || return 1
  for f in "$@"; do cmp -s "$help" "$vendor/$f/norvceni.chm" || return 1; done
}

# ---- the cases ---------------------------------------------------------------------------

# What the dialog shows: caption, start text, the 23 drives with C chosen.
case_dialog() {
  help_file "$out/files/ayuda.chm"
  start dialog "$program" 'Z:'"${out//\//\\}"'\files\ayuda.chm'
  if ! show_dialog; then
    fail "no main dialog"
    finish 0
    return
  fi
  sleep 0.5
  shot dialog
  drv title "$dlg" >"$out/dialog/caption.bin"
  expect "caption" same "$out/dialog/caption.bin" ' Instalaci\xf3n de Ayuda para Norvaledo C\xe9nit v.2009 R07'
  drv text "$dlg" 101 >"$out/dialog/text.bin"
  expect "start text" same "$out/dialog/text.bin" "$start_text"
  drv items "$dlg" 110 >"$out/dialog/items.txt"
  expect "the 23 drives in order" same "$out/dialog/items.txt" 'C\nD\nE\nF\nG\nH\nI\nJ\nK\nL\nM\nN\nO\nP\nQ\nR\nS\nT\nU\nV\nX\nY\nZ\n'
  drv current "$dlg" 110 >"$out/dialog/current.txt"
  expect "C is chosen" same "$out/dialog/current.txt" 'C'
  expect "install button" test "$(drv text "$dlg" 550)" = "&Instalar"
  expect "exit button" test "$(drv text "$dlg" 551)" = "&Salir"
  # The drop-down list opened with the mouse, then closed with Escape: the dialog stays, C stays.
  click_control "$dlg" 110
  sleep 0.5
  shot drop-down
  keys Escape
  expect "Escape closes only the list" drv wait "$dlg" 1
  drv current "$dlg" 110 >"$out/dialog/current.txt"
  expect "C is still chosen" same "$out/dialog/current.txt" 'C'
  drv click "$dlg" 551
  finish 0
}

# Escape, the close box and Alt+F4 before any button: the dialog stays.
case_refuse() {
  help_file "$out/files/ayuda.chm"
  start refuse "$program" 'Z:'"${out//\//\\}"'\files\ayuda.chm'
  if ! show_dialog; then
    fail "no main dialog"
    finish 0
    return
  fi
  sleep 0.5
  # A click on the start text gives Wine the keyboard; the combo box keeps the focus.
  click_control "$dlg" 101
  keys Escape
  expect "Escape refused" drv wait "$dlg" 1
  shot after-escape
  local xy
  read -r -a xy <<<"$(drv closebox "$dlg")"
  if [ ${#xy[@]} -eq 2 ]; then
    mouse "${xy[0]}" "${xy[1]}"
    sleep 0.5
    expect "close box refused" drv wait "$dlg" 1
    shot after-close-box
  else
    fail "no close box found"
  fi
  drv close "$dlg"
  sleep 0.5
  expect "system menu Close refused" drv wait "$dlg" 1
  # Alt+F4 with a button focused (a drop-down list would take it as F4).
  click_control "$dlg" 101
  keys Tab
  keys alt+F4
  expect "Alt+F4 refused" drv wait "$dlg" 1
  keys Escape
  expect "Escape on a button refused" drv wait "$dlg" 1
  expect "still running" running
  shot after-alt-f4
  drv click "$dlg" 551
  finish 0
}

# The exit button, pressed with the mouse after choosing a drive with installations with the
# arrow keys: exit code 0 and nothing copied.
case_exit() {
  mixed_drive "$drives/exit"
  map s "$drives/exit"
  help_file "$out/files/ayuda.chm"
  start exit "$program" 'Z:'"${out//\//\\}"'\files\ayuda.chm'
  if show_dialog; then
    # S chosen with the arrow keys (the combo box uses them itself; Down last, which would send
    # the focus on to the install button), then a real click on the exit button: the focus must
    # stay on it until it is released.
    click_control "$dlg" 101
    keys r Up Down Down
    drv current "$dlg" 110 >"$out/exit/current.txt"
    expect "S chosen with the arrow keys" same "$out/exit/current.txt" 'S'
    shot before-exit
    click_control "$dlg" 551
    expect "the dialog closes" drv gone "$dlg" 10
  else
    fail "no main dialog"
  fi
  finish 0
  expect "nothing copied" test -z "$(installed_in "$drives/exit/Vendrax" | grep -v '^Empresa2$')"
  expect "the old help file is untouched" same "$drives/exit/Vendrax/Empresa2/norvceni.chm" 'old help'
}

# A whole install on a drive with valid and invalid installations; a second click while the
# outcome box is up must not run the search and copy again.
case_install() {
  mixed_drive "$drives/install"
  map t "$drives/install"
  help_file "$out/files/ayuda.chm"
  start install "$program" 'Z:'"${out//\//\\}"'\files\ayuda.chm'
  if ! show_dialog; then
    fail "no main dialog"
    finish 0
    return
  fi
  drv select "$dlg" 110 T
  sleep 0.3
  shot chosen
  drv click "$dlg" 550
  if drv wait "$installed_title" 20 '#32770'; then
    sleep 0.5
    shot outcome
    drv box "$installed_title" >"$out/install/message.bin"
    expect "success message" same "$out/install/message.bin" "$installed_text"
    expect "help file in EMPRESA1 and Empresa2 only, byte for byte" \
      holds_help "$drives/install/Vendrax" "$out/files/ayuda.chm" "${accepted_mixed[@]}"
    # While the box is up: remove the copies and press the install button again, both as a
    # click on the (disabled) button and as the command the dialog would receive.
    rm -f "$drives/install/Vendrax/EMPRESA1/norvceni.chm" "$drives/install/Vendrax/Empresa2/norvceni.chm"
    drv click "$dlg" 550
    drv command "$dlg" 550
    sleep 1.5
    expect "one outcome box" test "$(drv count "$installed_title" '#32770')" = 1
    expect "no second copy" test -z "$(installed_in "$drives/install/Vendrax")"
    drv ok "$installed_title"
    expect "the box closes" drv gone "$installed_title" 10 '#32770'
  else
    fail "no outcome message"
  fi
  finish 0
  expect "no second outcome box" test "$(drv count "$installed_title" '#32770')" = 0
}

# No "Vendrax" on the drive, and a letter that names no drive: the not-found message.
case_notfound() {
  rm -rf "$drives/novendrax"
  mkdir -p "$drives/novendrax/Otros/EMPRESA1"
  installation "$drives/novendrax/Otros/EMPRESA1" 6524928 2009/1
  map u "$drives/novendrax"
  help_file "$out/files/ayuda.chm"
  local letter
  letter=$(free_letter)
  for drive in U "${letter^^}"; do
    start "notfound-$drive" "$program" 'Z:'"${out//\//\\}"'\files\ayuda.chm'
    if show_dialog; then
      drv select "$dlg" 110 "$drive"
      sleep 0.3
      drv click "$dlg" 550
      if drv wait "$notfound_title" 20 '#32770'; then
        sleep 0.5
        shot outcome
        drv box "$notfound_title" >"$out/$current/message.bin"
        expect "not-found message on $drive:" same "$out/$current/message.bin" "$notfound_text"
        drv ok "$notfound_title"
      else
        fail "no outcome message"
      fi
    else
      fail "no main dialog"
    fi
    finish 0
  done
  expect "nothing copied" test -z "$(installed_in "$drives/novendrax")"
}

# A help file whose path has blanks, written in quotes; the drive chosen with the keyboard and
# the install button pressed with the mouse.
case_paths() {
  rm -rf "$drives/paths"
  installation "$drives/paths/Vendrax/CONTA 2009" 6524928 2009/1
  installation "$drives/paths/Vendrax/DATOS" 6524928 2009/1
  help_file "$drives/paths/Mis ayudas/ayuda norvaledo.chm"
  map r "$drives/paths"
  # Wine puts the quotes round an argument with blanks when it builds the command line.
  start paths "$program" 'R:\Mis ayudas\ayuda norvaledo.chm'
  if ! show_dialog; then
    fail "no main dialog"
    finish 0
    return
  fi
  click_control "$dlg" 101
  keys p Down Down Down Up
  drv current "$dlg" 110 >"$out/paths/current.txt"
  expect "R chosen with the keyboard" same "$out/paths/current.txt" 'R'
  shot chosen
  # A real click on the install button right after the arrow keys (Up last, which would send
  # the focus back round to the exit button) acts.
  click_control "$dlg" 550
  if drv wait "$installed_title" 20 '#32770'; then
    drv box "$installed_title" >"$out/paths/message.bin"
    expect "success message" same "$out/paths/message.bin" "$installed_text"
    shot outcome
    drv ok "$installed_title"
  else
    fail "no outcome message"
  fi
  finish 0
  expect "the help file whole in both folders" \
    holds_help "$drives/paths/Vendrax" "$drives/paths/Mis ayudas/ayuda norvaledo.chm" "CONTA 2009" DATOS
}

# A folder that cannot be written: the stop box names it and the folders that did receive it.
case_copyfail() {
  rm -rf "$drives/copyfail"
  local v=$drives/copyfail/Vendrax
  installation "$v/ALFA" 6524928 2009/1
  installation "$v/BETA" 6524928 2009/1
  installation "$v/GAMMA" 6524928 2009/1
  map v "$drives/copyfail"
  help_file "$out/files/ayuda.chm"
  if ! chattr +i "$v/BETA"; then
    fail "chattr +i is not available here"
    return
  fi
  immutable+=("$v/BETA")
  start copyfail "$program" 'Z:'"${out//\//\\}"'\files\ayuda.chm'
  if show_dialog; then
    drv select "$dlg" 110 V
    sleep 0.3
    drv click "$dlg" 550
    local title=' Atenci\xf3n'
    if drv wait "$title" 20 '#32770'; then
      sleep 0.5
      shot outcome
      drv box "$title" >"$out/copyfail/message.bin"
      expect "stop message" same "$out/copyfail/message.bin" \
        'No se pudo instalar la Ayuda en:\r\nV:\\Vendrax\\BETA\r\n\r\nSe instal\xf3 en:\r\nV:\\Vendrax\\ALFA\r\nV:\\Vendrax\\GAMMA'
      drv ok "$title"
    else
      fail "no outcome message"
    fi
  else
    fail "no main dialog"
  fi
  finish 0
  chattr -i "$v/BETA"
  expect "the other folders received it" holds_help "$v" "$out/files/ayuda.chm" ALFA GAMMA
}

# Without progdll.dll the template cannot be found: the framework error reaches the error
# handler, which writes "Error.log" in the current folder, shows its error dialog and ends the
# process with code 1 when that dialog is closed. The error suite checks the report and the
# dialog in full; here the description and the way out are checked.
case_noresources() {
  current=noresources
  local dir=$out/noresources/alone
  rm -rf "$out/noresources"
  mkdir -p "$dir"
  cp "$program" "$dir/instayuda.exe"
  (cd "$dir" && exec "$wine" "$dir/instayuda.exe" 'C:\ayuda\norvceni.chm' >"$out/noresources/output.txt" 2>&1) &
  pid=$!
  local errdlg='Velloro for Quendar'
  if bring_to_front "$errdlg"; then
    sleep 0.3
    shot error-dialog
    expect "Error.log: the framework error and the template" \
      holds "$dir/Error.log" '   Error description: Error Velloro/3  Cannot create Dialog Box: \r\nResource: PRINCIPAL\r\n\r\n'
    drv close "$errdlg"
  else
    fail "no error dialog"
  fi
  finish 1
  expect "no main dialog" test "$(drv count "$dlg")" = 0
}

# The unattended mode: the switches a login script gives. A silent run shows no window at all
# (uidriver watch lists every window a program shows, from its start to its end), says what
# happened in its exit code and appends its record; a wrong switch installs nothing anywhere.
# It takes more than 10 s under Wine: nine starts of the program, two of them with a window
# driven as a user would. To keep it short, the seven silent runs share one run of the driver,
# one after another.
win() { printf 'Z:%s' "${1//\//\\}"; } # the Windows path of a host path, through drive Z:
# masked <record>: the record with the date and time of each line as "<t>".
masked() { sed -E 's/^[0-9]{2}-[0-9]{2}-[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} /<t> /' "$1"; }
# record_is <record> <text>: the record holds exactly those bytes once its times are masked.
record_is() { [ -f "$1" ] && cmp -s <(masked "$1") <(bytes "$2"); }
# esc <text>: the text for bytes (its backslashes doubled).
esc() { printf '%s' "${1//\\/\\\\}"; }
# flushed_before_move <relay trace> <folder...>: for each folder (written as the trace writes
# it, backslashes doubled), the copy to norvceni.chm.tmp, then an open of that file, a flush and
# the move onto norvceni.chm, in that order.
flushed_before_move() {
  local trace=$1 folder
  shift
  for folder in "$@"; do
    F=$folder perl -0777 -ne '
      my $f = quotemeta($ENV{F} . "\\\\norvceni.chm");
      my $gap = qr/(?:(?!Call KERNEL32\.(?:CopyFileA|MoveFileExA))[^\n]*\n)*?/;
      exit(/Call KERNEL32\.CopyFileA\([^\n]*$f\.tmp"[^\n]*\n$gap[^\n]*Call KERNEL32\.CreateFileA\([^\n]*$f\.tmp"[^\n]*\n$gap[^\n]*Call KERNEL32\.FlushFileBuffers\([^\n]*\n$gap[^\n]*Call KERNEL32\.MoveFileExA\([^\n]*$f\.tmp",[^\n]*$f"/ ? 0 : 1)' "$trace" || return 1
  done
}
case_unattended() {
  current=unattended
  local u=$out/unattended help log
  rm -rf "$u" "$drives/silent" "$drives/silentfail" "$drives/silentwrong" "$drives/silentnone"
  mkdir -p "$u" "$drives/silentnone"
  help_file "$u/ayuda.chm"
  help=$(win "$u/ayuda.chm")
  mixed_drive "$drives/silent"
  map g "$drives/silent"
  local v=$drives/silentfail/Vendrax
  installation "$v/ALFA" 6524928 2009/1
  installation "$v/BETA" 6524928 2009/1
  installation "$v/GAMMA" 6524928 2009/1
  map h "$drives/silentfail"
  map i "$drives/silentnone"
  mixed_drive "$drives/silentwrong"
  map j "$drives/silentwrong"
  if chattr +i "$v/BETA"; then immutable+=("$v/BETA"); else fail "chattr +i is not available here"; fi
  local temp
  for temp in "$WINEPREFIX"/drive_c/users/*/AppData/Local/Temp "$WINEPREFIX"/drive_c/users/*/Temp; do
    rm -f "$temp/instayuda.log"
  done
  local installed_line='<t> Mensaje: La AYUDA de Norvaledo C\xe9nit se instal\xf3 correctamente.\r\n'
  local notfound_lines='<t> Mensaje: En la UNIDAD seleccionada no se encontr\xf3 ning\xfan Norvaledo C\xe9nit v.2009 R07.\r\n<t> Mensaje: Ayuda NO instalada.\r\n'

  # The silent runs: a drive with valid and invalid installations (0), a drive without any (2,
  # appended to the same record), a folder that cannot be written (3), the record in the temp
  # folder without /REGISTRO (2), and three wrong command lines (2 each).
  local prog l1 l2 l3
  prog=$(win "$program")
  l1=$(win "$u/registro.log")
  l2=$(win "$u/copia.log")
  l3=$(win "$u/errores.log")
  # Wine's trace of the calls that copy, flush and replace (kept in the prefix; it prints only
  # under +relay): the copy reaches the disk before it takes the target's place.
  "$wine" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /f \
    /d 'kernel32.CopyFileA;kernel32.CreateFileA;kernel32.FlushFileBuffers;kernel32.MoveFileExA' >/dev/null 2>&1
  WINEDEBUG=-all,+relay "$wine" "$driver" watch 60 "$prog" "$help" /UNIDAD:g /SILENCIOSO "/REGISTRO:$l1" \
    -- "$prog" "$help" /UNIDAD:I /SILENCIOSO "/REGISTRO:$l1" \
    -- "$prog" "$help" /SILENCIOSO /UNIDAD:H "/REGISTRO:$l2" \
    -- "$prog" "$help" /SILENCIOSO /UNIDAD:I \
    -- "$prog" "$help" /UNIDAD:W /SILENCIOSO "/REGISTRO:$l3" \
    -- "$prog" "$help" /SILENCIOSO "/REGISTRO:$l3" \
    -- "$prog" "$help" /UNIDAD:J /SILENCIOSO /SILENCIOSA "/REGISTRO:$l3" >"$u/watch.txt" 2>"$u/relay.txt"
  chattr -i "$v/BETA"
  expect "each copy is flushed before it replaces the target" flushed_before_move "$u/relay.txt" \
    'G:\\Vendrax\\EMPRESA1' 'G:\\Vendrax\\Empresa2' 'H:\\Vendrax\\ALFA' 'H:\\Vendrax\\GAMMA'
  expect "no window at all; exit codes 0, 2, 3, 2, 2, 2, 2" same "$u/watch.txt" \
    'exit 0\nexit 2\nexit 3\nexit 2\nexit 2\nexit 2\nexit 2\n'
  expect "help file in EMPRESA1 and Empresa2 only, byte for byte" \
    holds_help "$drives/silent/Vendrax" "$u/ayuda.chm" "${accepted_mixed[@]}"
  expect "the records of the install and of the drive without installations" record_is "$u/registro.log" \
    "<t> Orden: $(esc "$help") /UNIDAD:g /SILENCIOSO /REGISTRO:$(esc "$l1")\r\n<t> Unidad: G\r\n<t> Instalada en: G:\\\\Vendrax\\\\EMPRESA1\r\n<t> Instalada en: G:\\\\Vendrax\\\\Empresa2\r\n$installed_line<t> Salida: 0\r\n<t> Orden: $(esc "$help") /UNIDAD:I /SILENCIOSO /REGISTRO:$(esc "$l1")\r\n<t> Unidad: I\r\n$notfound_lines<t> Salida: 2\r\n"
  expect "ALFA and GAMMA received it, BETA could not" holds_help "$v" "$u/ayuda.chm" ALFA GAMMA
  expect "the record names the folders" record_is "$u/copia.log" \
    "<t> Orden: $(esc "$help") /SILENCIOSO /UNIDAD:H /REGISTRO:$(esc "$l2")\r\n<t> Unidad: H\r\n<t> Instalada en: H:\\\\Vendrax\\\\ALFA\r\n<t> NO instalada en: H:\\\\Vendrax\\\\BETA\r\n<t> Instalada en: H:\\\\Vendrax\\\\GAMMA\r\n<t> Mensaje: No se pudo instalar la Ayuda en:\r\n<t> Mensaje: H:\\\\Vendrax\\\\BETA\r\n<t> Mensaje: Se instal\xf3 en:\r\n<t> Mensaje: H:\\\\Vendrax\\\\ALFA\r\n<t> Mensaje: H:\\\\Vendrax\\\\GAMMA\r\n<t> Salida: 3\r\n"
  temp=$(ls "$WINEPREFIX"/drive_c/users/*/AppData/Local/Temp/instayuda.log "$WINEPREFIX"/drive_c/users/*/Temp/instayuda.log 2>/dev/null | head -1)
  expect "the record in the temp folder" record_is "${temp:-/nonexistent}" \
    "<t> Orden: $(esc "$help") /SILENCIOSO /UNIDAD:I\r\n<t> Unidad: I\r\n$notfound_lines<t> Salida: 2\r\n"
  expect "wrong lines: nothing installed" test -z "$(installed_in "$drives/silentwrong/Vendrax" | grep -v '^Empresa2$')"
  expect "wrong lines: the old help file is untouched" same "$drives/silentwrong/Vendrax/Empresa2/norvceni.chm" 'old help'
  expect "wrong lines: the three records" record_is "$u/errores.log" \
    "<t> Orden: $(esc "$help") /UNIDAD:W /SILENCIOSO /REGISTRO:$(esc "$l3")\r\n<t> Error: La unidad de \"/UNIDAD:W\" no es v\xe1lida: ha de ser una letra de la C a la Z, salvo la W.\r\n<t> Salida: 2\r\n<t> Orden: $(esc "$help") /SILENCIOSO /REGISTRO:$(esc "$l3")\r\n<t> Error: \"/SILENCIOSO\" necesita la unidad: /UNIDAD:X.\r\n<t> Salida: 2\r\n<t> Orden: $(esc "$help") /UNIDAD:J /SILENCIOSO /SILENCIOSA /REGISTRO:$(esc "$l3")\r\n<t> Error: La opci\xf3n \"/SILENCIOSA\" no existe.\r\n<t> Salida: 2\r\n"

  # A wrong switch in the dialog mode: a stop box with the usage (the watcher sees it), exit
  # code 2 once it is closed, nothing installed.
  current=dialog-bad-switch
  mkdir -p "$out/$current"
  drv watch 60 "$prog" "$help" /UNIDAD:W >"$out/$current/watch.txt" &
  pid=$!
  local box=' Atenci\xf3n'
  if bring_to_front "$box"; then
    shot box
    drv box "$box" >"$out/$current/message.bin"
    expect "the stop box" same "$out/$current/message.bin" \
      'La unidad de "/UNIDAD:W" no es v\xe1lida: ha de ser una letra de la C a la Z, salvo la W.\r\n\r\nUso: instayuda.exe AYUDA [/UNIDAD:X]\r\n[/SILENCIOSO] [/REGISTRO:FICHERO]'
    drv ok "$box"
  else
    fail "no stop box"
  fi
  finish 0
  expect "the watcher saw the box, exit code 2" same "$out/$current/watch.txt" "shown #32770\t$box\nexit 2\n"

  # /UNIDAD in the dialog mode: the dialog starts on that drive; /REGISTRO keeps the record.
  rm -rf "$drives/silent" && mixed_drive "$drives/silent"
  rm -f "$u/registro.log"
  start dialog-drive "$program" "$help" /UNIDAD:g "/REGISTRO:$l1"
  if show_dialog; then
    drv current "$dlg" 110 >"$out/$current/current.txt"
    expect "G chosen" same "$out/$current/current.txt" 'G'
    shot chosen
    drv click "$dlg" 550
    if drv wait "$installed_title" 20 '#32770'; then
      drv ok "$installed_title"
    else
      fail "no outcome message"
    fi
  else
    fail "no main dialog"
  fi
  finish 0
  expect "help file in EMPRESA1 and Empresa2 only" \
    holds_help "$drives/silent/Vendrax" "$u/ayuda.chm" "${accepted_mixed[@]}"
  expect "the record of the dialog" record_is "$u/registro.log" \
    "<t> Orden: $(esc "$help") /UNIDAD:g /REGISTRO:$(esc "$l1")\r\n<t> Unidad: G\r\n<t> Instalada en: G:\\\\Vendrax\\\\EMPRESA1\r\n<t> Instalada en: G:\\\\Vendrax\\\\Empresa2\r\n$installed_line<t> Salida: 0\r\n"
}

# ---- run ---------------------------------------------------------------------------------

groups=("$group")
[ "$group" = all ] && groups=(dialog refuse exit install notfound paths copyfail noresources unattended)
for g in "${groups[@]}"; do
  if declare -F "case_$g" >/dev/null; then
    "case_$g"
  else
    echo "run.sh: unknown group $g"
    exit 2
  fi
done

summary "e2e_$group"

#!/usr/bin/env bash
# The shared-table routines between real processes, each side a run of tablas: an open refused
# while another process holds the table exclusive, a record lock held by another process,
# appends from several processes at once, and errors that end in the error handler.
#
# usage: run.sh native|wine <tablas> <uidriver.exe or -> <out folder>
# Natively a message box is a line "title: text" on the error output and the error dialog is
# the error line on it. Under Wine the boxes and the dialog are real windows, read and answered
# with uidriver.exe; the suite uses DISPLAY when set, else an Xvfb of its own, and the prefix
# WINEPREFIX, else <out folder>/../wineprefix.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/lib.sh"
mode=$1
tablas=$(realpath "$2")
out=$(realpath -m "$4")

if [ "$mode" = wine ]; then
  driver=$(realpath "$3")
  wine_for "$tablas"
  export WINEPREFIX=${WINEPREFIX:-$(dirname "$out")/wineprefix}
  fresh_suite "$out"
else
  rm -rf "$out"
  mkdir -p "$out"
fi
data=$out/data
mkdir -p "$data"

# A process reading a fifo (tab_fifo) ends when its input does, which is when no process holds
# the fifo's writing end any more: every program is started with those ends closed, or a
# program started meanwhile (or a Wine process it starts, which may outlive it) keeps the
# reader waiting.
declare -A fds
close_inputs() {
  local f
  for f in "${fds[@]}"; do exec {f}>&-; done
}
eval "lib_$(declare -f drv)"
drv() { (close_inputs && lib_drv "$@"); }

# tab <name> <expression...>: runs tablas in the data folder in the background; its output goes
# to <name>.out and <name>.err there; its pid is pids[name].
declare -A pids
tab() {
  local name=$1
  shift
  if [ "$mode" = wine ]; then
    (close_inputs && cd "$data" && exec "$wine" "$tablas" "$@" >"$name.out" 2>"$name.err") &
  else
    (close_inputs && cd "$data" && exec "$tablas" "$@" >"$name.out" 2>"$name.err") &
  fi
  pids[$name]=$!
}
# tab_in <name> <input file> <expression...>: tab with standard input read from the file.
tab_in() {
  local name=$1 input=$2
  shift 2
  if [ "$mode" = wine ]; then
    (close_inputs && cd "$data" && exec "$wine" "$tablas" "$@" <"$input" >"$name.out" 2>"$name.err") &
  else
    (close_inputs && cd "$data" && exec "$tablas" "$@" <"$input" >"$name.out" 2>"$name.err") &
  fi
  pids[$name]=$!
}
# tab_fifo <name>: "tablas -f -" in the data folder, reading the lines the suite gives it with
# say <name> <line>, until hangup <name>. A holder run this way lets go of a table or a record
# when the suite tells it, however long the other processes take to start.
tab_fifo() {
  local name=$1 n
  mkfifo "$data/$name.in"
  if [ "$mode" = wine ]; then
    (close_inputs && cd "$data" && exec "$wine" "$tablas" -f - <"$name.in" >"$name.out" 2>"$name.err") &
  else
    (close_inputs && cd "$data" && exec "$tablas" -f - <"$name.in" >"$name.out" 2>"$name.err") &
  fi
  pids[$name]=$!
  exec {n}>"$data/$name.in"
  fds[$name]=$n
}
say() { printf '%s\n' "$2" >&"${fds[$1]}"; }
hangup() {
  local n=${fds[$1]}
  exec {n}>&-
}
# lines <name>: its output so far, without carriage returns.
lines() { [ -f "$data/$1.out" ] && tr -d '\r' <"$data/$1.out"; }
# wait_lines <name> <count> [seconds]: its output reaches that many lines.
wait_lines() {
  local n=0
  while [ "$(lines "$1" | wc -l)" -lt "$2" ]; do
    n=$((n + 1))
    [ $n -gt $((${3:-30} * 20)) ] && return 1
    sleep 0.05
  done
}
# ends <name> <exit code>: it ends within 30 s with that exit code.
ends() {
  pid=${pids[$1]}
  finish "$2"
}
# output_is <name> <line...>: its whole output is these lines.
output_is() {
  local name=$1
  shift
  [ "$(lines "$name")" = "$(printf '%s\n' "$@")" ]
}
now() { date +%s.%N; }
# at_least <seconds> <start> <end>: end - start >= seconds.
at_least() { awk -v s="$1" -v a="$2" -v b="$3" 'BEGIN { exit !(b - a >= s) }'; }

# box_answered <name> <title> <text>: the message box of that title shows the text and is
# answered (under Wine with OK; natively it is the line "title: text" on the error output).
box_answered() {
  local name=$1 title=$2 text=$3
  if [ "$mode" = wine ]; then
    drv box "$title" 60 >"$data/$name.box" || return 1
    drv ok "$title" 5 || return 1
    [ "$(cat "$data/$name.box")" = "$(bytes "$text")" ]
  else
    local waited=0
    until grep -qaxF -- "$(bytes "$title: $text")" "$data/$name.err" 2>/dev/null; do
      waited=$((waited + 1))
      [ $waited -gt 1200 ] && return 1
      sleep 0.05
    done
  fi
}
# no_box <name>: nothing was shown.
no_box() {
  if [ "$mode" = wine ]; then
    [ "$(drv count 'Atenci\xf3n')" = 0 ] && [ "$(drv count 'Acceso denegado')" = 0 ]
  else
    ! grep -qa ': ' "$data/$1.err"
  fi
}

clientes="{{'NOMBRE','C',30,0},{'SALDO','N',12,2},{'ALTA','D',8,0},{'NOTA','M',10,0}}"

# ---- the table ------------------------------------------------------------------------------

current=setup
tab setup "DBCREATE('clientes', $clientes)" "LNETUSE('clientes', .T., 2)" \
  "CREATECDX(, 'UPPER(NOMBRE)', 'NOMBRE')" "LNETRECADD()" "FIELDPUT(1, 'Ana')" \
  "FIELDPUT(3, CTOD('24-12-09'))" "DBCOMMIT()" "ACAMPOSLEE()" \
  "FIELDPUT(2, 1250.5)" "ACAMPOSLEE()[2]" "{10, 20, 30}[2]" "{{1, 2}, {3, 4}}[2][1] + LEN([ab])"
ends setup 0
expect "each value on its line" output_is setup .t. .t. NIL .t. Ana 24-12-09 .t. \
  "{Ana                           , 0, 24-12-09, }" 1250.5 1250.5 20 5

# ---- an exclusive hold: LNETUSE tries twice, waits 2 s, then warns --------------------------

current=exclusive
tab_fifo holder
say holder "LNETUSE('clientes', .T.)"
if wait_lines holder 1; then
  start=$(now)
  tab refused "LNETUSE('clientes', .F., 2)" "NETERR()" "ALIAS()"
  expect "warning 'Fichero(s) bloqueado(s). Acceso Denegado' titled 'Atenci\xF3n'" \
    box_answered refused 'Atenci\xf3n' 'Fichero(s) bloqueado(s). Acceso Denegado'
  ends refused 0
  expect "two attempts a second apart: not before 2 s" at_least 2 "$start" "$(now)"
  expect "false, NETERR() true, no table" output_is refused .f. .t. ""
  # A budget of 0 waits for the holder to let go, without a message: the holder closes the
  # table once the patient is about to try.
  tab patient "'ready'" "LNETUSE('clientes', .F., 0)" "RECCOUNT()"
  wait_lines patient 1 && say holder "DBCLOSEAREA()"
  ends patient 0
  expect "budget 0 opens once the holder closed" output_is patient ready .t. 1
  expect "budget 0 shows nothing" no_box patient
else
  fail "the holder did not open the table"
fi
hangup holder
ends holder 0

# ---- a record lock held by another process --------------------------------------------------

current=reclock
tab_fifo locker
say locker "LNETUSE('clientes')"
say locker "DBGOTO(1)"
say locker "RLOCK()"
if wait_lines locker 3; then
  start=$(now)
  tab blocked "LNETUSE('clientes')" "DBGOTO(1)" "LNETRECLOCK()"
  expect "warning 'El registro que se intenta procesar est\xE1 bloqueado' titled 'Acceso denegado'" \
    box_answered blocked 'Acceso denegado' 'El registro que se intenta procesar est\xe1 bloqueado'
  ends blocked 0
  expect "three tries, two half-second waits" at_least 1 "$start" "$(now)"
  expect "LNETRECLOCK answers false" output_is blocked .t. .t. .f.
  # Budget 0: the locker lets go once the waiting process is about to try.
  tab waiting "LNETUSE('clientes')" "DBGOTO(1)" "LNETRECLOCK(0)" "FIELDPUT(2, 10.5)" "DBCOMMIT()"
  wait_lines waiting 2 && say locker "DBUNLOCK()"
  ends waiting 0
  expect "budget 0 locks once the holder is gone" output_is waiting .t. .t. .t. 10.5 .t.
  expect "budget 0 shows nothing" no_box waiting
else
  fail "the locker did not lock"
fi
hangup locker
ends locker 0

# ---- appends from several processes --------------------------------------------------------

current=appends
tab altas "DBCREATE('altas', {{'CLAVE','C',10,0},{'PROC','N',2,0}})" "LNETUSE('altas', .T.)" \
  "CREATECDX(, 'CLAVE', 'CLAVE')"
ends altas 0
procs=4
each=25
for p in $(seq 1 $procs); do
  args=("LNETUSE('altas')")
  for i in $(seq 1 $each); do
    args+=("LNETRECADD(0)" "FIELDPUT(1, 'P$p-$i')" "FIELDPUT(2, $p)" "DBCOMMIT()")
  done
  tab "append$p" "${args[@]}"
done
for p in $(seq 1 $procs); do ends "append$p" 0; done
args=("LNETUSE('altas')" "DBSETORDER('CLAVE')" "RECCOUNT()")
for p in $(seq 1 $procs); do
  for i in $(seq 1 $each); do args+=("DBSEEK('P$p-$i')"); done
done
tab check "${args[@]}"
ends check 0
expect "every append arrived once" test "$(lines check | sed -n 3p)" = $((procs * each))
expect "every key found" test "$(lines check | tail -n +4 | sort | uniq -c | awk '{ print $1, $2 }')" = "$((procs * each)) .t."

# ---- scripts: a thousand appends from a file, a thousand seeks from standard input ------------

current=script
# Written as on Windows (CR LF), with a comment, an indented comment and a blank line; the last
# line has no line end.
{
  printf '# mil altas, una por l\xEDnea\r\n'
  printf "DBCREATE('mil', {{'CLAVE','C',10,0},{'NUM','N',6,0},{'NOTA','M',10,0}})\r\n"
  printf "LNETUSE('mil', .T.)\r\nCREATECDX(, 'CLAVE', 'CLAVE')\r\n\r\n   # altas\r\n"
  for i in $(seq 1 1000); do
    printf "LNETRECADD() .AND. ACAMPOSGRABA({'C%04d', %d, 'nota %d'})\r\n" "$i" "$i" "$i"
  done
  printf "RECCOUNT()"
} >"$data/mil.txt"
tab mil -f mil.txt
ends mil 0
expect "one value per expression line: 3 + 1000 + 1" test "$(lines mil | wc -l)" = 1004
expect "each append true" test "$(lines mil | sed -n 4,1003p | grep -cxF .t.)" = 1000
expect "1000 records" test "$(lines mil | tail -n 1)" = 1000
{
  echo "LNETUSE('mil')"
  echo "DBSETORDER('CLAVE')"
  for i in $(seq 1 1000); do
    printf "DBSEEK('C%04d') .AND. NUM == %d .AND. NOTA == 'nota %d'\n" "$i" "$i" "$i"
  done
} >"$data/buscar.txt"
tab_in buscar "$data/buscar.txt" -f -
ends buscar 0
expect "standard input: every record found by its key, fields and memo as written" \
  test "$(lines buscar | sort | uniq -c | awk '{ print $1, $2 }')" = "1002 .t."

# Standard input a terminal: each line's value comes as soon as the line is entered, before the
# next one is typed. Under Wine the console reads the terminal itself, Enter (CR) ends a line
# and Ctrl+Z then Enter ends the input, as on Windows; a line typed before it has taken the
# terminal may only be completed by the next Enter, so an empty line (skipped by the script
# reader) is entered until the value shows. Wine leaves the terminal's signal keys on, where
# Ctrl+Z would stop the process: they are turned off before Ctrl+Z is typed.
current=terminal
mkfifo "$data/term.in"
if [ "$mode" = wine ]; then
  (cd "$data" && exec script -q -e -c "$wine $tablas -f -" /dev/null <term.in >term.out 2>&1) &
else
  (cd "$data" && exec script -q -e -c "$tablas -f -" /dev/null <term.in >term.out 2>&1) &
fi
pids[term]=$!
exec 7>"$data/term.in"
# term_lines: what the terminal shows, without escape sequences and carriage returns.
term_lines() { sed 's/\x1b\[[?0-9;]*[a-zA-Z]//g' "$data/term.out" | tr -d '\r'; }
# shows <line> [nudge]: the terminal shows that line within 30 s; with nudge, Enter is pressed
# on an empty line every half second until it does.
shows() {
  local n=0
  until term_lines | grep -qxF -- "$1"; do
    n=$((n + 1))
    [ $n -gt 600 ] && return 1
    [ -n "${2:-}" ] && [ $((n % 10)) = 0 ] && printf '\r' >&7
    sleep 0.05
  done
}
printf '{10, 20, 30}[2]\r' >&7
expect "the first line's value shows before the next line is typed" shows 20 nudge
printf "'a' + 'b'\r" >&7
expect "the second line's value shows as it is entered" shows ab
if [ "$mode" = wine ]; then
  child=$(ps -o pid= --ppid "${pids[term]}" | head -n 1)
  stty -isig -F "$(readlink "/proc/${child// /}/fd/0")"
  printf '\x1a\r' >&7
else
  printf '\x04' >&7
fi
exec 7>&-
ends term 0

# ---- errors through the handler -------------------------------------------------------------

# error_shown <name> <description>: the error dialog (natively the error line) with that text,
# answered with Quit.
error_shown() {
  local name=$1 text=$2
  if [ "$mode" = wine ]; then
    drv wait "Velloro for Quendar" 60 || return 1
    drv dump "Velloro for Quendar" >"$data/$name.dump"
    drv press "Velloro for Quendar" "&Quit"
    grep -qaF -- "$text" "$data/$name.dump"
  else
    local waited=0
    while ! grep -qaF -- "$text" "$data/$name.err" 2>/dev/null; do
      waited=$((waited + 1))
      [ $waited -gt 1200 ] && return 1
      sleep 0.05
    done
  fi
}
report_holds() { holds "$data/Error.log" "$1"; }

current=missing
rm -f "$data/Error.log"
tab missing "LNETUSE('clientes')" "DBSETORDER(1)" "LNETUSE('altas')" "DBGOTO(100)" "LNETUSE('noexiste')" "ALIAS()"
expect "error dialog 'Error ADSCDX/...  Open error'" error_shown missing "Error description: Error ADSCDX/"
ends missing 1
expect "the expressions after the error did not run" output_is missing .t. .t. .t. .t.
cp "$data/Error.log" "$data/missing.log"
expect "report: the open error" holds "$data/missing.log" "Open error: noexiste"
expect "report: linked drivers" holds "$data/missing.log" "Linked RDDs\r\n===========\r\n   DBF\r\n   ADS\r\n"
# Both open areas, read in their own order and position; the failed open's area is selected.
area() { printf '\\r\\n%3d:    %-15s%20sRddName: ADSCDX\\r\\n' "$1" "$2" ""; }
rows="     ==============================\r\n     RecNo    RecCount    BOF   EOF\r\n"
order() { printf '        %s%-35s%s\\r\\n' "$1" "$2" "$3"; }
section6="DataBases in use\r\n================\r\n$(area 1 CLIENTES)$rows        1          1      .f.   .f.\r\n\r\n"
section6+="     Indexes in use                        TagName\r\n$(order '=> ' 'UPPER(NOMBRE)' NOMBRE)"
section6+="\r\n     Relations in use\r\n$(area 2 ALTAS)$rows      100        100      .f.   .f.\r\n\r\n"
section6+="     Indexes in use                        TagName\r\n$(order '   ' CLAVE CLAVE)"
section6+="\r\n     Relations in use\r\n\r\nClasses in use:"
expect "report: section 6 lists the open areas" holds "$data/missing.log" "$section6"

current=syntax
rm -f "$data/Error.log"
tab syntax "1 + 1" "DBCREATE('x', {{'A','C',1,0}}" "2"
expect "error dialog 'Error BASE/...  Syntax error'" error_shown syntax "Syntax error"
ends syntax 1
expect "the first expression ran, nothing after the error" output_is syntax 2
expect "report written" report_holds "Syntax error"

# An error in a script: the lines before it ran, none after; the report's stack names the line.
current=script-error
rm -f "$data/Error.log"
printf "1 + 1\n# nota\n\n{1, 2}[3]\n'nunca'\n" >"$data/roto.txt"
tab roto -f roto.txt
expect "error dialog 'Error BASE/1132  Bound error'" error_shown roto "Bound error"
ends roto 1
expect "the line before the error ran, nothing after" output_is roto 2
expect "report: called from the script's line 4" report_holds "Called from MAIN(4)"

summary "tablas ($mode)"

#!/usr/bin/env bash
# Several PCs on one shared folder. Two Wine prefixes, each with a Wine server of its own (two
# Windows "PCs" that map the folder as drive S:), and a native tablas on the folder itself
# append, change and lock records of one indexed table with memos, all at once. Then an
# independent reader (dbfdump.pl: the files' bytes, none of the engine's code), dbverify and a
# tablas on the other PC check that nothing was lost, doubled or left out of the index, and
# record locks held on one PC are seen, and their release too, on the others.
#
# usage: pcs.sh <tablas.exe 64-bit> <tablas.exe 32-bit or -> <native tablas or -> <dbverify.exe>
#               <out folder>
# PC "A" is the prefix WINEPREFIX (else <out folder>/../wineprefix) with the 64-bit program. PC
# "B" is a second prefix made from it for the run (its registry copied, its drive_c linked, so
# that it costs no boot from nothing); it runs the 32-bit program where this machine runs
# 32-bit code, else the 64-bit one (a line says so). PC "N" is the native program, skipped with
# a line when it is not built. No process waits a fixed time for another: the suite polls the
# output each process writes, with a time limit.
#
# Over 10 s: about 30 s on a 2-core machine shared with several busy builds (load 11), for
# the start of PC B's Wine services (5 s), five program starts under Wine (2 to 6 s each
# there), three writers of 300 table calls each (2 to 6 s; a record lock another one holds is
# tried again after half a second) and reading everything back.
set -u
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../e2e/lib.sh"
tablas64=$(realpath "$1")
tablas32=$2
native=$3
dbverify=$(realpath "$4")
out=$(realpath -m "$5")
started=$(date +%s.%N)

export WINEPREFIX=${WINEPREFIX:-$(dirname "$out")/wineprefix}
prefixA=$WINEPREFIX
prefixB=$out/prefixB
share=$out/share
records=${PCS_RECORDS:-150} # appended by each process
seeds=10                    # records that every process changes

# ---- the PCs -----------------------------------------------------------------------------

declare -A pids loader program prefix folder
fifos=()
cleanup() {
  local p
  for p in "${fifos[@]}"; do eval "exec $p>&-" 2>/dev/null; done
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  [ -d "$prefixB" ] && WINEPREFIX=$prefixB "$wineserver" -k 2>/dev/null
  rm -f "$prefixA/dosdevices/s:"
  end_display
}
rm -rf "$out"
mkdir -p "$out" "$share"
own_display || exit 1
trap cleanup EXIT
wine_session "$out/wineboot.log"

current=pcs
if [ "$native" != - ] && [ -x "$native" ]; then
  pcs="A B N"
  native=$(realpath "$native")
else
  pcs="A B"
  echo "native tablas: SKIPPED, not built (${native}); the Wine PCs share the table alone"
fi
npcs=$(wc -w <<<"$pcs")
loader[A]=/usr/lib/wine/wine64
program[A]=$tablas64
why=
if [ "$tablas32" = - ]; then
  why="no 32-bit program given"
elif [ ! -f "$tablas32" ]; then
  why="the 32-bit program is not built ($tablas32)"
elif ! why=$("$here/../../scripts/runs32bit"); then
  :
elif [ ! -x /usr/lib/wine/wine ]; then
  why="the 32-bit Wine loader (wine32:i386) is not installed"
else
  why=
fi
if [ -z "$why" ]; then
  loader[B]=/usr/lib/wine/wine
  program[B]=$(realpath "$tablas32")
  echo "PC B: the 32-bit tablas.exe"
else
  loader[B]=/usr/lib/wine/wine64
  program[B]=$tablas64
  echo "PC B: 32-bit tablas.exe SKIPPED, $why; PC B runs the 64-bit one"
fi
prefix[A]=$prefixA
prefix[B]=$prefixB

# PC B: the registry files and the drive mappings copied, drive_c hard-linked (Wine writes
# new files there, and changes none of those it was booted with); a persistent Wine server of
# its own (one that ended with its last program could take the next one with it as it shuts
# down), and its services started with their output to a file, so that none of them holds a
# test's pipe.
mkdir -p "$prefixB"
cp -a "$prefixA"/*.reg "$prefixA/.update-timestamp" "$prefixA/dosdevices" "$prefixB/" 2>/dev/null
cp -al "$prefixA/drive_c" "$prefixB/" 2>/dev/null || cp -a "$prefixA/drive_c" "$prefixB/"
WINEPREFIX=$prefixB "$wineserver" -p </dev/null >/dev/null 2>&1
WINEPREFIX=$prefixB "${loader[B]}" wineboot </dev/null >"$out/winebootB.log" 2>&1
for pc in A B; do
  rm -f "${prefix[$pc]}/dosdevices/s:"
  ln -s "$share" "${prefix[$pc]}/dosdevices/s:"
done
table="S:\\clientes"
for pc in A B N; do
  folder[$pc]=$out/$pc
  mkdir -p "${folder[$pc]}"
done

# run <pc> <name> <argument...>: tablas on that PC in its own folder, in the background; the
# output goes to <name>.out and <name>.err there. For a script argument "-f -", standard input
# is the fifo <name>.in, opened for writing on the file descriptor fd[name].
declare -A fd
# Each process starts with the other fifos' writing ends closed: a reader ends when its input
# does, which no other process (nor a Wine process it starts) may put off.
close_inputs() {
  local f
  for f in "${fd[@]}"; do exec {f}>&-; done
}
run() {
  local pc=$1 name=$2
  shift 2
  local dir=${folder[$pc]} input=/dev/null
  if [ "${*: -1}" = - ]; then
    mkfifo "$dir/$name.in"
    input=$dir/$name.in
  fi
  if [ "$pc" = N ]; then
    (close_inputs && cd "$dir" && exec "$native" "$@" <"$input" >"$name.out" 2>"$name.err") &
  else
    (close_inputs && cd "$dir" && WINEPREFIX=${prefix[$pc]} exec "${loader[$pc]}" "${program[$pc]}" "$@" <"$input" \
      >"$name.out" 2>"$name.err") &
  fi
  pids[$name]=$!
  if [ "$input" != /dev/null ]; then
    local n
    exec {n}>"$input"
    fd[$name]=$n
    fifos+=("$n")
  fi
}
# say <name> <line>: types the line into that process's standard input; answer <name> <value>:
# the value of the last line said to it is that value (waiting up to 60 s for it).
declare -A said
say() {
  printf '%s\n' "$2" >&"${fd[$1]}"
  said[$1]=$((${said[$1]:-0} + 1))
}
answer() { has_lines "$1" "${said[$1]}" && [ "$(out_of "$1" | sed -n "${said[$1]}p")" = "$2" ]; }
# out_of <name>: its output so far, without carriage returns.
out_of() {
  local f
  for f in "${folder[A]}" "${folder[B]}" "${folder[N]}"; do
    [ -f "$f/$1.out" ] && tr -d '\r' <"$f/$1.out"
  done
}
# has_lines <name> <count> [seconds]: its output reaches that many lines (60 s by default).
has_lines() {
  local n=0
  while [ "$(out_of "$1" | wc -l)" -lt "$2" ]; do
    n=$((n + 1))
    [ $n -gt $((${3:-60} * 20)) ] && return 1
    sleep 0.05
  done
}
# ended <name> <exit code>: it ends within 60 s with that exit code.
ended() {
  pid=${pids[$1]}
  finish_within 600 "$2"
  unset "pids[$1]"
}
finish_within() {
  local waited=0
  while kill -0 "$pid" 2>/dev/null && [ $waited -lt "$1" ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  if kill -0 "$pid" 2>/dev/null; then
    fail "the program did not end"
    kill "$pid" 2>/dev/null
    return
  fi
  wait "$pid"
  local rc=$?
  if [ "$rc" = "$2" ]; then ok "exit code $rc"; else fail "exit code $rc, expected $2"; fi
}
# output_is <name> <line...>: its whole output is these lines.
output_is() {
  local name=$1
  shift
  [ "$(out_of "$name")" = "$(printf '%s\n' "$@")" ]
}
# table_of <pc>: the table's name as that PC opens it.
table_of() { if [ "$1" = N ]; then echo "$share/clientes"; else echo "$table"; fi; }

# ---- the table, made on PC A by the process that then keeps a record for the gate ----------

# Each PC has one process that stays for the whole run, reading its lines from a fifo: it
# makes the table (A), holds the gate, holds and tries records for the lock checks, and reads
# every record back at the end (B), with the table open all along.
current=setup
run A holdA -f -
run B holdB -f -
say_all() { # say_all <name> <line...>: say each line
  local name=$1 line
  shift
  for line in "$@"; do say "$name" "$line"; done
}
say_all holdA "DBCREATE('$table', {{'CLAVE','C',8,0},{'PC','C',1,0},{'NUM','N',6,0},{'VECES','N',6,0},{'NOTA','M',10,0}})" \
  "LNETUSE('$table', .T.)" "CREATECDX(, 'CLAVE', 'CLAVE')"
for k in $(seq 1 $seeds); do say holdA "$(printf "LNETRECADD() .AND. ACAMPOSGRABA({'S-%02d', ' ', 0, 0, ''})" "$k")"; done
say_all holdA "DBCLOSEAREA()" "LNETUSE('$table')" "DBGOTO(1)" "RLOCK()"
expect "PC A made the table, its index and $seeds records, and holds record 1" \
  answer holdA .t.
expect "every step true" test "$(out_of holdA | grep -cxF .t.)" = $((seeds + 5))
say holdB "LNETUSE('$table')"
expect "PC B opens the table" answer holdB .t.

# ---- all at once: appends with memos and changes of the same records -----------------------

# The gate: each writer waits for PC A's lock on record 1 before its first call, so that all
# of them start within half a second of each other.
current=writers
# each <pc> <awk program>: runs the program once for each record the PC appends, with pc, i
# (1, 2, ...), w (the PC's number, 0, 1, 2), key ("A-0001"), n (its memo's letter count) and
# fill (those letters) set.
each() {
  local w=0 p
  for p in $pcs; do
    [ "$p" = "$1" ] && break
    w=$((w + 1))
  done
  awk -v pc="$1" -v w=$w -v records="$records" -v seeds=$seeds "
    BEGIN { for (i = 1; i <= records; i++) { key = sprintf(\"%s-%04d\", pc, i); n = 20 + i % 60
      fill = \"\"; for (j = 0; j < n; j++) fill = fill pc; $2 } }"
}
for pc in $pcs; do
  {
    echo "# PC $pc: $records records appended, $records changes of the shared records"
    echo "LNETUSE('$(table_of $pc)', .F., 0)"
    echo "DBSETORDER('CLAVE')"
    echo "DBGOTO(1) .AND. LNETRECLOCK(0) .AND. DBUNLOCK()"
    each "$pc" 'printf "LNETRECADD(0) .AND. ACAMPOSGRABA({\x27%s\x27, \x27%s\x27, %d, 0, \x27%s \x27 + REPLICATE(\x27%s\x27, %d)}) .AND. DBCOMMIT()\n", key, pc, i, key, pc, n
      printf "DBSEEK(\x27S-%02d\x27) .AND. LNETRECLOCK(0) .AND. FIELDPUT(4, FIELDGET(4) + 1) > 0 .AND. LEN(FIELDPUT(5, FIELDGET(5) + \x27%s\x27)) > 0 .AND. DBCOMMIT() .AND. DBUNLOCK()\n", (i - 1 + 4 * w) % seeds + 1, pc'
  } >"${folder[$pc]}/write.txt"
  run "$pc" "write$pc" -f write.txt
done
for pc in $pcs; do
  expect "PC $pc has opened the table and waits at the gate" has_lines "write$pc" 2
done
say holdA "DBUNLOCK()"
expect "the gate opens" answer holdA .t.
writing=$(date +%s.%N)
for pc in $pcs; do ended "write$pc" 0; done
written=$(date +%s.%N)
for pc in $pcs; do
  expect "PC $pc: every call true" test "$(out_of "write$pc" | grep -cxF .t.)" = $((2 * records + 3))
done

# ---- record locks between the PCs ------------------------------------------------------------

# PC A holds record 1 and PC B record 2; each tries the other's record (DBRLOCK adds a lock and
# keeps those held) and a free one, and so does the native process. Once both let go, each
# takes the record the other held.
current=locks
say_all holdA "DBGOTO(1)" "RLOCK()"
say_all holdB "DBGOTO(2)" "RLOCK()"
expect "PC A holds record 1" answer holdA .t.
expect "PC B holds record 2" answer holdB .t.
say holdA "DBRLOCK(2)"
expect "PC A sees record 2 locked by PC B" answer holdA .f.
say holdB "DBRLOCK(1)"
expect "PC B sees record 1 locked by PC A" answer holdB .f.
say holdA "DBRLOCK(3)"
expect "PC A locks record 3, which nobody holds" answer holdA .t.
say holdB "DBRLOCK(4)"
expect "PC B locks record 4, which nobody holds" answer holdB .t.
if [[ $pcs == *N* ]]; then
  run N seeN "LNETUSE('$share/clientes')" "DBGOTO(1)" "RLOCK()" "DBGOTO(2)" "RLOCK()" "DBGOTO(5)" "RLOCK()"
  ended seeN 0
  expect "the native process sees records 1 and 2 locked, record 5 free" output_is seeN .t. .t. .f. .t. .f. .t. .t.
fi
say holdA "DBUNLOCK()"
say holdB "DBUNLOCK()"
expect "PC A lets its records go" answer holdA .t.
expect "PC B lets its records go" answer holdB .t.
say holdB "DBRLOCK(1)"
expect "PC B then locks record 1" answer holdB .t.
say holdA "DBRLOCK(2)"
expect "PC A then locks record 2" answer holdA .t.
say_all holdA "DBUNLOCK()"
say_all holdB "DBUNLOCK()"

# ---- nothing lost, doubled or left out -------------------------------------------------------

current=check
changes=$((records / seeds)) # per process and shared record
expected=$out/expected.txt
{
  for k in $(seq 1 $seeds); do
    letters=
    for pc in $pcs; do letters+=$(printf "%${changes}s" | tr ' ' "$pc"); done
    printf ' |S-%02d||0|%d|%s\n' "$k" $((changes * $npcs)) "$letters"
  done
  for pc in $pcs; do each "$pc" 'printf " |%s|%s|%d|0|%s %s\n", key, pc, i, key, fill'; done
} | sort >"$expected"
# The shared records' memos hold the letters in the order the changes came: sorted here.
perl "$here/dbfdump.pl" "$share/clientes.dbf" >"$out/dump.txt"
expect "the files hold together (read without the engine)" test $? = 0
perl -ne 'chomp; my @f = split /\|/, $_, -1; $f[5] = join "", sort split //, $f[5] if $f[1] =~ /^S-/;
  print join("|", @f), "\n"' "$out/dump.txt" | sort >"$out/found.txt"
expect "every record once, as written: $records appended by each of $pcs, the shared ones changed by each" \
  cmp -s "$expected" "$out/found.txt"
cmp -s "$expected" "$out/found.txt" || diff "$expected" "$out/found.txt" | head -5

(cd "${folder[A]}" && WINEPREFIX=$prefixA "${loader[A]}" "$dbverify" 'S:\clientes.dbf' >verify.out 2>&1)
expect "dbverify (PC A): table, memos and index agree" test $? = 0
tr -d '\r' <"${folder[A]}/verify.out" | grep -q ': consistent$' || cat "${folder[A]}/verify.out"
if [[ $pcs == *N* ]] && [ -x "$(dirname "$native")/dbverify" ]; then
  "$(dirname "$native")/dbverify" "$share/clientes.dbf" >"${folder[N]}/verify.out" 2>&1
  expect "dbverify (native): table, memos and index agree" test $? = 0
fi

# Every key through the index on PC B, by the process that has had the table open all along.
{
  echo "DBSETORDER('CLAVE')"
  echo "RECCOUNT()"
  for k in $(seq 1 $seeds); do
    printf "DBSEEK('S-%02d') .AND. VECES == %d .AND. LEN(TRIM(NOTA)) == %d\n" "$k" \
      $((changes * $npcs)) $((changes * $npcs))
  done
  for pc in $pcs; do
    each "$pc" 'printf "DBSEEK(\x27%s\x27) .AND. PC == \x27%s\x27 .AND. NUM == %d .AND. NOTA == \x27%s \x27 + REPLICATE(\x27%s\x27, %d)\n", key, pc, i, key, pc, n'
  done
} >"${folder[B]}/read.txt"
before=${said[holdB]}
while IFS= read -r line; do say holdB "$line"; done <"${folder[B]}/read.txt"
total=$((seeds + records * npcs))
expect "PC B reads every line back" answer holdB .t.
expect "PC B counts $total records" test "$(out_of holdB | sed -n "$((before + 2))p")" = "$total"
expect "PC B finds every key through the index, with its fields and memo" \
  test "$(out_of holdB | tail -n +$((before + 3)) | grep -cxF .t.)" = "$total"
eval "exec ${fd[holdA]}>&- ${fd[holdB]}>&-"
fifos=()
ended holdA 0
ended holdB 0

now=$(date +%s.%N)
awk -v a="$started" -v w="$writing" -v d="$written" -v e="$now" -v n="$records" -v p="$pcs" 'BEGIN {
  printf "\n%s: %d records appended by each, %d in all; writers %.1f s, whole suite %.1f s\n",
    p, n, n * split(p, x, " "), d - w, e - a }'
summary "several PCs"

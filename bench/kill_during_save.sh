#!/bin/bash
# Kills `kelvo-tool import` in the middle of its save of a 100,000-card data
# file, RUNS times, and reports after each kill how many temporary files were
# left behind and whether the data file is the old one or the complete new
# one. Each kill comes while a file of the save is being written.
#
#   bench/kill_during_save.sh [KELVO_TOOL] [RUNS]
#
# The tool's lock lives in a private runtime folder, so a running Kelvo is
# neither disturbed nor in the way. Leftovers are counted before the next run
# (whose start removes them).
set -u
TOOL=${1:-build/src/tool/kelvo-tool}
RUNS=${2:-20}
CARDS=100000
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
base="$work/program"
data="$base/SavedCard/Card.DB"
mkdir -p "$base/SavedCard"
"$TOOL" generate --cards $CARDS --seed 7 "$work/old.DB" >/dev/null || exit 1
printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nFN:新名片\r\nTEL;TYPE=CELL:139\r\nEND:VCARD\r\n' >"$work/new.vcf"
old_sum=$(sha256sum <"$work/old.DB" | cut -d' ' -f1)
old_cards=$("$TOOL" check "$work/old.DB" | sed -n 's/.*cards: \([0-9]*\).*/\1/p')

leftovers() {
    find "$base" -name '.*.????????.tmp' | wc -l
}

# The moment of each kill: once the process holds a file being written in
# the folder of the phase (odd runs: the backup copies in BackUP, even runs:
# the data file in SavedCard), that is, an unnamed file ("#NNN (deleted)" in
# /proc) or a named temporary one, plus 0 to 19 ms.
writing_in() {
    ls -l "/proc/$1/fd" 2>/dev/null | grep -q -e "$base/$2/.*(deleted)" -e "$base/$2/.*\.tmp"
}

left_total=0
old_count=0
new_count=0
bad=0
killed=0
for run in $(seq 1 "$RUNS"); do
    cp "$work/old.DB" "$data"
    rm -rf "$base/BackUP"
    if [ $((run % 2)) = 1 ]; then phase=BackUP; else phase=SavedCard; fi
    extra=$(( (run * 7) % 20 ))
    "$TOOL" import "$data" "$work/new.vcf" >/dev/null 2>&1 &
    pid=$!
    while kill -0 $pid 2>/dev/null && ! writing_in $pid $phase; do :; done
    perl -e "select(undef,undef,undef,$extra/1000)"
    kill -9 $pid 2>/dev/null
    wait $pid 2>/dev/null
    status=$?
    [ $status = 137 ] && killed=$((killed + 1))
    left=$(leftovers)
    left_total=$((left_total + left))
    sum=$(sha256sum <"$data" | cut -d' ' -f1)
    if [ "$sum" = "$old_sum" ]; then
        state=old
        old_count=$((old_count + 1))
    elif cards=$("$TOOL" check "$data" 2>/dev/null | sed -n 's/.*cards: \([0-9]*\).*/\1/p') \
         && [ "$cards" = $((old_cards + 1)) ]; then
        state=new
        new_count=$((new_count + 1))
    else
        state=DAMAGED
        bad=$((bad + 1))
    fi
    printf 'run %2d: writing in %-9s +%2d ms, exit %3d: data file %-7s temporary files left %d\n' \
        "$run" "$phase" "$extra" "$status" "$state" "$left"
    find "$base" -name '.*.????????.tmp' -delete
done
echo "runs: $RUNS, killed: $killed, data file old: $old_count, new: $new_count, neither: $bad, temporary files left: $left_total"

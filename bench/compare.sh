#!/usr/bin/env bash
# Measures the table of whole-process figures for two builds side by side, in
# one run, with the floors the figures are held against:
#
#   bench/compare.sh [--runs N] [--benches] BEFORE_BUILD AFTER_BUILD
#
# BEFORE_BUILD and AFTER_BUILD are CMake build folders holding
# src/tool/kelvo-tool and src/app/kelvo (and bench/bench_* for --benches).
# Every figure is the median of N runs (default 5): wall clock and peak
# resident memory from /usr/bin/time -v. The data files are made once, by the
# AFTER build's `kelvo-tool generate` (the same bytes for both builds), in a
# temporary folder; KELVO_COMPARE_DIR keeps them in a folder of your choice
# for a rerun. `kelvo` runs under its own Xvfb: its figure is the time from
# its start to its main window shown with the tree loaded, and its peak
# memory then. The load average is printed before and after: quote figures
# from a quiet machine.
#
# --benches also runs bench_store and bench_search of both builds (the load,
# save and search benchmarks; Google Benchmark's own output).
set -euo pipefail

runs=5
benches=0
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --benches) benches=1; shift ;;
    -h|--help) sed -n '2,19p' "$0"; exit 0 ;;
    *) break ;;
  esac
done
if [ $# -ne 2 ]; then
  echo "usage: $0 [--runs N] [--benches] BEFORE_BUILD AFTER_BUILD" >&2
  exit 1
fi
before=$(cd "$1" && pwd)
after=$(cd "$2" && pwd)
for tool in /usr/bin/time rg Xvfb xwininfo; do
  command -v "$tool" >/dev/null || { echo "$0: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

work=${KELVO_COMPARE_DIR:-$(mktemp -d)}
mkdir -p "$work"
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  [ -z "${KELVO_COMPARE_DIR:-}" ] && rm -rf "$work"
  return 0
}
trap cleanup EXIT
echo "data in $work; load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

# --- the data: 100,000 and 1,000,000 generated cards, the JSON dump of the
# larger file, and a text dump of the fields of the smaller one for ripgrep
# (one card per line).
gen_tool="$after/src/tool/kelvo-tool"
for cards in 100000 1000000; do
  [ -s "$work/c$cards.db" ] || "$gen_tool" generate --cards "$cards" "$work/c$cards.db"
done
[ -s "$work/c1000000.json" ] || "$gen_tool" dump "$work/c1000000.db" > "$work/c1000000.json"
[ -s "$work/c100000.txt" ] || "$gen_tool" dump "$work/c100000.db" \
  | sed -n 's/.*"kind": 1, "fields": \[\(.*\)\], "created".*/\1/p' > "$work/c100000.txt"

# --- measuring
median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# A command N times; prints "WALL_MS PEAK_MIB" (medians). Its output goes away.
# /usr/bin/time -v gives the peak memory; its wall clock counts hundredths of
# a second, so the clock is read around it too (the figure includes its own
# start, about a millisecond).
measure() {
  local walls=() peaks=() i start end report="$work/time.txt"
  for ((i = 0; i < runs; ++i)); do
    start=$(date +%s%N)
    /usr/bin/time -v -o "$report" "$@" > /dev/null 2>&1 || true
    end=$(date +%s%N)
    walls+=("$(awk -v ns=$((end - start)) 'BEGIN {printf "%.1f", ns / 1e6}')")
    peaks+=("$(awk -F': ' '/Maximum resident set size/ {printf "%.0f", $2 / 1024}' "$report")")
  done
  echo "$(printf '%s\n' "${walls[@]}" | median) $(printf '%s\n' "${peaks[@]}" | median)"
}

# `kelvo` of a build with the 1,000,000-card file as its data: milliseconds
# from its start to its main window ("Kelvo") viewable with the process idle
# after the load, and its peak memory then; medians of N runs. The program
# keeps its data beside itself, so a copy of it runs in a folder of its own,
# with a runtime folder of its own (its single-instance lock).
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp > /dev/null 2>&1 &
xvfb_pid=$!
sleep 1
# The main window is the widest of the program's windows titled "Kelvo" (the
# progress window bears the title too).
main_window_shown() {
  local id
  for id in $(xwininfo -display "$display" -root -tree 2>/dev/null | awk '/"Kelvo": \("kelvo"/ {print $1}'); do
    if xwininfo -display "$display" -id "$id" 2>/dev/null \
        | awk '/Map State: IsViewable/ {v = 1} /^ *Width:/ {w = $2} END {exit !(v && w > 450)}'; then
      return 0
    fi
  done
  return 1
}
measure_kelvo() {
  local build="$1" walls=() peaks=() i
  for ((i = 0; i < runs; ++i)); do
    local home="$work/kelvo-run"
    rm -rf "$home"
    mkdir -p "$home/SavedCard" "$home/BackUP" "$home/runtime"
    chmod 700 "$home/runtime"
    cp "$build/src/app/kelvo" "$home/kelvo"
    ln "$work/c1000000.db" "$home/SavedCard/Card.DB" 2>/dev/null || cp "$work/c1000000.db" "$home/SavedCard/Card.DB"
    local start now last_ticks ticks idle_since shown=0 pid
    start=$(date +%s%N)
    DISPLAY="$display" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$home/runtime" HOME="$home" "$home/kelvo" > /dev/null 2>&1 &
    pid=$!
    last_ticks=-1
    idle_since=0
    while kill -0 "$pid" 2>/dev/null; do
      ticks=$(awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null || echo -1)
      now=$(date +%s%N)
      if [ "$ticks" = "$last_ticks" ]; then
        [ "$idle_since" = 0 ] && idle_since=$now
        # Idle for 100 ms: is the main window there?
        if [ $((now - idle_since)) -ge 100000000 ]; then
          if main_window_shown; then
            shown=1
            break
          fi
          idle_since=$now
        fi
      else
        idle_since=0
        last_ticks=$ticks
      fi
      sleep 0.005
    done
    if [ "$shown" = 1 ]; then
      walls+=($(((idle_since - start) / 1000000)))
      peaks+=("$(awk '/VmHWM:/ {printf "%.0f", $2 / 1024}' "/proc/$pid/status")")
    fi
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if [ ${#walls[@]} -eq 0 ]; then
    echo "- -"
  else
    echo "$(printf '%s\n' "${walls[@]}" | median) $(printf '%s\n' "${peaks[@]}" | median)"
  fi
}

# --- the table
row() { # WORK FLOOR_MS FLOOR_TEXT GOAL BEFORE_FIGURES AFTER_FIGURES SHOW_PEAK
  local work_name="$1" floor="$2" floor_text="$3" goal="$4" b="$5" a="$6" peak="$7"
  local bw bp aw ap ratio_b='' ratio_a=''
  read -r bw bp <<< "$b"
  read -r aw ap <<< "$a"
  if [ "$floor" != - ] && [ "$bw" != - ] && awk -v f="$floor" 'BEGIN {exit !(f > 0)}'; then
    ratio_b=$(awk -v x="$bw" -v f="$floor" 'BEGIN {printf "%.1fx", x / f}')
    ratio_a=$(awk -v x="$aw" -v f="$floor" 'BEGIN {printf "%.1fx", x / f}')
  fi
  if [ "$peak" = yes ]; then
    printf '| %s | %s ms, peak %s MiB | %s ms, peak %s MiB | %s | %s | %s | %s |\n' \
      "$work_name" "$bw" "$bp" "$aw" "$ap" "$floor_text" "$ratio_b" "$ratio_a" "$goal"
  else
    printf '| %s | %s ms | %s ms | %s | %s | %s | %s |\n' "$work_name" "$bw" "$aw" "$floor_text" "$ratio_b" "$ratio_a" "$goal"
  fi
}

echo "measuring, $runs runs each..."
cat_fig=$(measure cat "$work/c100000.db")
rg_zw=$(measure rg -c -F 张伟 "$work/c100000.txt")
rg_com=$(measure rg -c -F -i .com "$work/c100000.txt")
cat_ms=${cat_fig%% *}
zw_ms=${rg_zw%% *}
com_ms=${rg_com%% *}

declare -A fig
for side in before after; do
  build=${!side}
  tool="$build/src/tool/kelvo-tool"
  fig[$side,check]=$(measure "$tool" check "$work/c100000.db")
  fig[$side,zw]=$(measure "$tool" search "$work/c100000.db" 张伟 --fields all)
  fig[$side,com]=$(measure "$tool" search "$work/c100000.db" .com --fields all)
  fig[$side,check1m]=$(measure "$tool" check "$work/c1000000.db")
  fig[$side,build1m]=$(measure "$tool" build "$work/c1000000.json" "$work/built-$side.db")
  fig[$side,kelvo]=$(measure_kelvo "$build")
done
rows_com=$("$after/src/tool/kelvo-tool" search "$work/c100000.db" .com --fields all | tail -1)

echo
echo "| Work | Before | After | Floor | Ratio before | Ratio after | Goal |"
echo "|---|---|---|---|---|---|---|"
row "\`kelvo-tool check\` (100,000 cards)" "$cat_ms" "\`cat\` $cat_ms ms" "at most 5x" "${fig[before,check]}" "${fig[after,check]}" no
row "\`kelvo-tool search ... 张伟 --fields all\`" "$zw_ms" "\`rg -c -F\` $zw_ms ms" "at most 4x" "${fig[before,zw]}" "${fig[after,zw]}" no
row "\`kelvo-tool search ... .com --fields all\` ($rows_com)" "$com_ms" "\`rg -c -F -i\` $com_ms ms" "at most 8x" "${fig[before,com]}" "${fig[after,com]}" no
row "\`kelvo-tool check\` of 1,000,000 cards" - "" "at most 300 ms, 400 MiB" "${fig[before,check1m]}" "${fig[after,check1m]}" yes
row "\`kelvo-tool build\` of the dump of 1,000,000 cards" - "" "at most 3000 ms, 500 MiB" "${fig[before,build1m]}" "${fig[after,build1m]}" yes
row "\`kelvo\` with 1,000,000 cards: start to window shown (xcb, Xvfb)" - "" "at most 400 ms, 450 MiB" "${fig[before,kelvo]}" "${fig[after,kelvo]}" yes
if cmp -s "$work/built-before.db" "$work/built-after.db" && cmp -s "$work/built-after.db" "$work/c1000000.db"; then
  echo "(both builds' \`build\` wrote the generated file back byte for byte)"
else
  echo "WARNING: the files written by \`build\` differ from each other or from the generated one"
fi
echo
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

if [ "$benches" = 1 ]; then
  for side in before after; do
    build=${!side}
    for bench in bench_store bench_search; do
      echo
      echo "== $side: $bench"
      "$build/bench/$bench" --benchmark_filter='Read|Load|Serialize|Save|Peak|Search' 2>&1 | grep -v '^\*\*\*'
    done
  done
fi

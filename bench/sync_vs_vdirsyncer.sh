#!/usr/bin/env bash
# Kelvo's sync beside Debian's vdirsyncer on the same radicale (one loopback
# server, two address books, the same cards), whole processes timed:
#   1. first upload of UPLOAD (2,000) cards;
#   2. with BIG (10,000) cards on both sides: a sync with nothing changed;
#   3. the same with one card changed on the server.
# Kelvo is measured twice where the build has `kelvo-tool sync`: the whole
# command (data file, state file, engine, client), and the protocol client's
# part alone (bench_sync: the listing since the stored token and the fetch of
# what changed). Reports figures; asserts nothing.
#
#   bench/sync_vs_vdirsyncer.sh [BUILD_DIR] [UPLOAD] [BIG]
set -euo pipefail
build=$(realpath "${1:-build-client}")
upload=${2:-2000}
big=${3:-10000}
bench="$build/bench/bench_sync"
tool="$build/src/tool/kelvo-tool"
if [ -x "$tool" ] && "$tool" sync --help >/dev/null 2>&1; then has_tool=1; else has_tool=0; fi
[ -x "$bench" ] || { echo "no $bench: build the target bench_sync" >&2; exit 2; }
command -v vdirsyncer >/dev/null || { echo "vdirsyncer is not installed" >&2; exit 2; }

work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
user=bench
export KELVO_SYNC_PASSWORD=x
root="http://127.0.0.1:$port"
storage="$work/radicale"

start_server() {
  /usr/bin/radicale --config "" --server-hosts "127.0.0.1:$port" --storage-filesystem-folder "$storage" \
    >"$work/radicale.log" 2>&1 &
  server_pid=$!
  for _ in $(seq 100); do
    curl -s -o /dev/null "$root/" && return 0
    sleep 0.1
  done
  echo "radicale does not answer" >&2; exit 1
}
stop_server() { kill "$server_pid"; wait "$server_pid" 2>/dev/null || true; server_pid=; }

mkbook() { # name
  curl -s -f -o /dev/null -u "$user:x" -X MKCOL -H 'Content-Type: application/xml' --data \
    '<?xml version="1.0"?><D:mkcol xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:carddav"><D:set><D:prop><D:resourcetype><D:collection/><C:addressbook/></D:resourcetype></D:prop></D:set></D:mkcol>' \
    "$root/$user/$1/"
}

# Cards as files (the same text bench_sync uploads).
write_cards() { # folder count prefix
  python3 - "$@" <<'EOF'
import os, sys
folder, count, prefix = sys.argv[1], int(sys.argv[2]), sys.argv[3]
os.makedirs(folder, exist_ok=True)
for i in range(count):
    uid = f"{prefix}-{i}"
    text = (f"BEGIN:VCARD\r\nVERSION:3.0\r\nUID:{uid}\r\nFN:测试名片 {i}\r\nN:名片 {i};测试;;;\r\n"
            f"ORG:Kelvo 测试公司\r\nTITLE:经理\r\nTEL;TYPE=WORK:+86 10 {80000000 + i}\r\n"
            f"EMAIL;TYPE=INTERNET:card{i}@example.com\r\nADR;TYPE=WORK:;;长安街 {i} 号;北京;;100000;中国\r\n"
            f"NOTE:第 {i} 张\r\nEND:VCARD\r\n")
    with open(os.path.join(folder, uid + ".vcf"), "w", encoding="utf-8", newline="") as f:
        f.write(text)
EOF
}

vdir_config() { # book local
  mkdir -p "$work/status-$1" "$2"
  cat >"$work/vdirsyncer-$1.conf" <<EOF
[general]
status_path = "$work/status-$1/"

[pair bench]
a = "bench_local"
b = "bench_remote"
collections = null
conflict_resolution = "a wins"

[storage bench_local]
type = "filesystem"
path = "$2"
fileext = ".vcf"

[storage bench_remote]
type = "carddav"
url = "$root/$user/$1/"
username = "$user"
password = "x"
EOF
}

seconds() { # command...: prints the wall time of the whole process
  local start end
  start=$(date +%s.%N)
  "$@" >"$work/last.out" 2>&1 || { cat "$work/last.out" >&2; exit 1; }
  end=$(date +%s.%N)
  python3 -c "print(f'{$end - $start:.3f}')"
}

token_of() { sed -n 's/^token //p' "$work/last.out"; }

start_server
printf '%-46s %10s %10s\n' "step" "Kelvo s" "vdirsyncer s"

# 1. First upload.
mkbook up-kelvo
mkbook up-vdir
write_cards "$work/up-local" "$upload" up
vdir_config up-vdir "$work/up-local"
vdirsyncer -c "$work/vdirsyncer-up-vdir.conf" discover >/dev/null 2>&1 || true
t_v=$(seconds vdirsyncer -c "$work/vdirsyncer-up-vdir.conf" sync)
t_k=$(seconds "$bench" upload "$root/$user/up-kelvo/" "$user" - "$upload" up)
printf '%-46s %10s %10s\n' "first upload of $upload cards (client)" "$t_k" "$t_v"
if [ "$has_tool" = 1 ]; then
  mkbook up-tool
  mkdir -p "$work/tool-up"
  "$tool" generate --cards "$upload" "$work/tool-up/Card.DB"
  t_t=$(seconds "$tool" sync "$work/tool-up/Card.DB" --url "$root/$user/up-tool/" --user "$user")
  printf '%-46s %10s %10s\n' "first upload of $upload cards (kelvo-tool sync)" "$t_t" "$t_v"
fi

# 2. BIG cards on both sides, written into radicale's folder directly (an
# upload of that many takes many minutes); each client then syncs once.
stop_server
write_cards "$storage/collection-root/$user/big-kelvo" "$big" big
write_cards "$storage/collection-root/$user/big-vdir" "$big" big
write_cards "$storage/collection-root/$user/big-tool" "$big" big
for book in big-kelvo big-vdir big-tool; do
  echo '{"tag": "VADDRESSBOOK"}' >"$storage/collection-root/$user/$book/.Radicale.props"
done
write_cards "$work/big-local" "$big" big
start_server
# Radicale reads cards written behind its back once, on the first listing,
# and on the first request of a sync token writes (and fsyncs) one history
# entry per card; cards it was sent by PUT get both as they come. Neither is
# timed: a server that received its cards the usual way has done both. (Left
# in, the history alone cost about 110 s of a 146 s first download of 10,000
# cards by the whole tool, which asks for the token with its listing.)
for book in big-kelvo big-vdir big-tool; do
  curl -s -o /dev/null -m 1800 -u "$user:x" -X PROPFIND -H 'Depth: 1' -H 'Content-Type: application/xml' \
    --data '<?xml version="1.0"?><D:propfind xmlns:D="DAV:"><D:prop><D:getetag/></D:prop></D:propfind>' \
    "$root/$user/$book/"
  curl -s -o /dev/null -m 1800 -u "$user:x" -X PROPFIND -H 'Depth: 0' -H 'Content-Type: application/xml' \
    --data '<?xml version="1.0"?><D:propfind xmlns:D="DAV:"><D:prop><D:sync-token/></D:prop></D:propfind>' \
    "$root/$user/$book/"
done
vdir_config big-vdir "$work/big-local"
vdirsyncer -c "$work/vdirsyncer-big-vdir.conf" discover >/dev/null 2>&1 || true
t_v0=$(seconds vdirsyncer -c "$work/vdirsyncer-big-vdir.conf" sync)
t_k0=$(seconds "$bench" pull "$root/$user/big-kelvo/" "$user" - "")
token=$(token_of)
printf '%-46s %10s %10s\n' "first sync of $big cards present on both sides" "$t_k0" "$t_v0"
if [ "$has_tool" = 1 ]; then
  # An empty data file takes the server's cards (the first download).
  mkdir -p "$work/tool-big"
  : >"$work/tool-big/Card.DB"
  t_t0=$(seconds "$tool" sync "$work/tool-big/Card.DB" --url "$root/$user/big-tool/" --user "$user")
  printf '%-46s %10s %10s\n' "kelvo-tool sync: first download of $big cards" "$t_t0" "-"
fi
t_kf=$(seconds "$bench" list "$root/$user/big-kelvo/" "$user" -)
printf '%-46s %10s %10s\n' "(full PROPFIND listing of $big, for reference)" "$t_kf" "-"

t_v=$(seconds vdirsyncer -c "$work/vdirsyncer-big-vdir.conf" sync)
t_k=$(seconds "$bench" pull "$root/$user/big-kelvo/" "$user" - "$token")
requests=$(sed -n 's/.* \([0-9]*\) requests$/\1/p' "$work/last.out")
printf '%-46s %10s %10s   (Kelvo: %s requests)\n' "no-change sync of $big cards (client)" "$t_k" "$t_v" "$requests"
if [ "$has_tool" = 1 ]; then
  t_t=$(seconds "$tool" sync "$work/tool-big/Card.DB")
  printf '%-46s %10s %10s   (%s)\n' "no-change sync of $big cards (kelvo-tool sync)" "$t_t" "$t_v" "$(grep -m1 "^uploaded" "$work/last.out")"
fi

# 3. The phone changes one card on each book.
changed=$(python3 -c "import sys; print(open(sys.argv[1], encoding='utf-8').read().replace('经理', '总经理'), end='')" \
  "$work/big-local/big-7.vcf")
for book in big-kelvo big-vdir big-tool; do
  printf '%s' "$changed" | curl -s -f -o /dev/null -u "$user:x" -X PUT -H 'Content-Type: text/vcard' \
    --data-binary @- "$root/$user/$book/big-7.vcf"
done
t_v=$(seconds vdirsyncer -c "$work/vdirsyncer-big-vdir.conf" sync)
t_k=$(seconds "$bench" pull "$root/$user/big-kelvo/" "$user" - "$token")
requests=$(sed -n 's/.* \([0-9]*\) requests$/\1/p' "$work/last.out")
printf '%-46s %10s %10s   (Kelvo: %s, %s requests)\n' "one card changed on the server (client)" "$t_k" "$t_v" \
  "$(head -1 "$work/last.out" | cut -d, -f1-2)" "$requests"
if [ "$has_tool" = 1 ]; then
  t_t=$(seconds "$tool" sync "$work/tool-big/Card.DB")
  printf '%-46s %10s %10s   (%s)\n' "one card changed on the server (kelvo-tool)" "$t_t" "$t_v" "$(grep -m1 "^uploaded" "$work/last.out")"
fi

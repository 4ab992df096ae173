#!/usr/bin/env bash
# Makes the migration report shown in README (docs/report.png) from ledgers
# of the simulated fleet: two technicians, each with a home of their own
# and a computer name of their own (a UTS namespace), migrate simulated
# stations over three days (faketime sets the days) and the report merges
# their ledgers, with a copy of one of them, as an operator gets them.
# Needs root (unshare, hostname), faketime and chromium.
#   docs/report-demo.sh [rechannel-cli] [out.png]
set -euo pipefail
cli=$(realpath "${1:-build/default/cli/rechannel-cli}")
out=$(realpath -m "${2:-docs/report.png}")
work=$(mktemp -d)
sims=()
trap 'for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT
export TZ=Europe/Moscow XDG_RUNTIME_DIR=$work/run
mkdir -p -m 700 "$XDG_RUNTIME_DIR" "$work/anna" "$work/boris"

# as TECH "DAY TIME" COMMAND...: a command on TECH's laptop at that time.
as() {
    local tech=$1 when=$2
    shift 2
    HOME=$work/$tech faketime -f "@$when" unshare --uts sh -c 'hostname "$0-laptop"; exec "$@"' "$tech" "$cli" "$@"
}
# station PREFIX COUNT ADDRESS [simulate options]: published simulated stations.
station() {
    local name=$1 count=$2 address=$3
    shift 3
    "$cli" simulate --count "$count" --address "$address" --publish "$name" "$@" >/dev/null 2>&1 &
    sims+=($!)
    for _ in $(seq 50); do
        [ "$(ls "$XDG_RUNTIME_DIR/rechannel-ports" 2>/dev/null | grep -c "^$name")" -ge "$count" ] && return 0
        sleep 0.1
    done
    echo "report-demo: $name did not come up" >&2
    return 1
}
program() { as "$1" "$2" program --all --match "$3" >/dev/null 2>&1 || true; }

# Day 1, Anna: six stations, one of them loses power while being written,
# one belongs to another system.
station "TUSB d1a" 5 301
station "TUSB d1b" 1 306 --fault powerlost@12 --state "$work/306.bin"
s306=$!
station "TUSB d1c" 1 307 --system 0x20
program anna "2026-12-07 09:30:00" "TUSB d1"
# Day 2, Boris: eight stations, one out of the frequency plan, one silent;
# Anna goes back to 306 and moves it.
station "TUSB d2a" 5 312
station "TUSB d2s" 1 311 --state "$work/311.bin"
s311=$!
station "TUSB d2b" 1 317 --range 7
station "TUSB d2c" 1 318 --fault noreply@*
program boris "2026-12-08 10:15:00" "TUSB d2"
kill "$s306" && wait "$s306" 2>/dev/null || true
station "TUSB d2r" 1 306 --state "$work/306.bin"
program anna "2026-12-08 15:40:00" "TUSB d2r"
# Day 3, both: eleven more stations, one loses power while being written and
# one does not keep what it was sent; Boris puts 311's old settings back.
station "TUSB d3a" 5 321
station "TUSB d3b" 4 326
station "TUSB d3b-x" 1 330 --fault powerlost@12
station "TUSB d3b-y" 1 331 --fault ignorewrite
program anna "2026-12-09 09:05:00" "TUSB d3a"
program boris "2026-12-09 11:20:00" "TUSB d3b"
backup=$(ls "$work/boris/QuelvintLog/backups/"*_311_*.bin | head -n 1)
kill "$s311" && wait "$s311" 2>/dev/null || true
station "TUSB d3r" 1 311 --state "$work/311.bin"
as boris "2026-12-09 16:00:00" restore --port "TUSB d3r 1" "$backup" --force >/dev/null 2>&1 || true

mkdir -p "$work/ledgers"
cp "$work/anna/QuelvintLog/ledger.csv" "$work/ledgers/anna.csv"
cp "$work/boris/QuelvintLog/ledger.csv" "$work/ledgers/boris.csv"
cp "$work/anna/QuelvintLog/ledger.csv" "$work/ledgers/anna-backup.csv"
cd "$work"
"$cli" report ledgers --html report.html --csv stations.csv
"$cli" report ledgers
chromium --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking --disable-component-update \
    --disable-sync --user-data-dir="$work/profile" --screenshot="$work/shot.png" --window-size=1200,1600 \
    "file://$work/report.html" 2>/dev/null
cp "$work/shot.png" "$out"
echo "report-demo: $out"

#!/usr/bin/env bash
# Makes the migration report shown in README (docs/report.png) from ledgers
# of the simulated fleet: two technicians, each with a home of their own
# and a computer name of their own (a UTS namespace), migrate simulated
# stations of one mesh over three days (faketime sets the days) and the
# report merges their ledgers, with a copy of one of them, as an operator gets
# them, against the operator's plan of the network.
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

# The mesh: the gateway 300 (nobody visits it), 301..305 and 311 under it,
# 306 and 307 under 301, 312..316 under 311 and 317 under 312; 320 (not
# visited either) with 321..325 under it, 326..329 under 321, 330 and 331
# under 326. Each station's parent is in its RAM, where every run reads it.
# Day 1, Anna: six stations, one of them loses power while being written,
# one belongs to another system.
station "TUSB d1a" 5 301 --parent 300 --link 3 --signal -71
station "TUSB d1b" 1 306 --parent 301 --link 2 --signal -88 --fault powerlost@23 --state "$work/306.bin"
s306=$!
station "TUSB d1c" 1 307 --parent 301 --link 1 --signal -104 --system 0x20
program anna "2026-12-07 09:30:00" "TUSB d1"
# Day 2, Boris: eight stations, one out of the frequency plan, one silent;
# Anna goes back to 306 and moves it.
station "TUSB d2a" 5 312 --parent 311 --link 3 --signal -76
station "TUSB d2s" 1 311 --parent 300 --link 3 --signal -69 --state "$work/311.bin"
s311=$!
station "TUSB d2b" 1 317 --parent 312 --link 1 --signal -97 --range 7
station "TUSB d2c" 1 318 --parent 312 --fault noreply@*
program boris "2026-12-08 10:15:00" "TUSB d2"
kill "$s306" && wait "$s306" 2>/dev/null || true
station "TUSB d2r" 1 306 --parent 301 --link 2 --signal -88 --state "$work/306.bin"
program anna "2026-12-08 15:40:00" "TUSB d2r"
# Day 3, both: eleven more stations, one loses power while being written and
# one does not keep what it was sent; Boris puts 311's old settings back.
station "TUSB d3a" 5 321 --parent 320 --link 3 --signal -73
station "TUSB d3b" 4 326 --parent 321 --link 2 --signal -84
station "TUSB d3b-x" 1 330 --parent 326 --link 2 --signal -91 --fault powerlost@23
station "TUSB d3b-y" 1 331 --parent 326 --link 1 --signal -99 --fault ignorewrite
program anna "2026-12-09 09:05:00" "TUSB d3a"
program boris "2026-12-09 11:20:00" "TUSB d3b"
backup=$(ls "$work/boris/QuelvintLog/backups/"*_311_*.bin | head -n 1)
kill "$s311" && wait "$s311" 2>/dev/null || true
station "TUSB d3r" 1 311 --parent 300 --state "$work/311.bin"
as boris "2026-12-09 16:00:00" restore --port "TUSB d3r 1" "$backup" --force >/dev/null 2>&1 || true

# The operator's plan of the network, as a spreadsheet saves it: 307 (of
# another system) is not in it, 332..335 nobody has visited yet.
cat >"$work/stations.csv" <<'PLAN'
address,name,place,notes
300,Шлюз,"Центральная, 1",мачта
301,Узел Север,"Северная, 4",
302,Школа №2,"Северная, 12",
303,Поликлиника,"Северная, 20",
304,Котельная,"Заводская, 2",
305,Почта,"Северная, 31",
306,Водокачка,"Речная, 7",
311,Узел Восток,"Восточная, 1",
312,Рынок,"Восточная, 9",
313,Школа №5,"Восточная, 15",
314,Гараж,"Восточная, 22",
315,Аптека,"Садовая, 3",
316,Склад,"Садовая, 11",
317,Насосная,"Речная, 2",
318,Мост,"Речная, 30",
320,Узел Юг,"Южная, 1",
321,Депо,"Южная, 8",
322,Баня,"Южная, 14",
323,Библиотека,"Южная, 19",
324,Магазин,"Южная, 27",
325,Стадион,"Спортивная, 1",
326,Станция скорой,"Лесная, 2",
327,Пожарная часть,"Лесная, 6",
328,Лесничество,"Лесная, 12",
329,Детский сад,"Лесная, 18",
330,Ферма,"Полевая, 3",
331,Элеватор,"Полевая, 9",
332,Мельница,"Полевая, 15",
333,Карьер,"Каменная, 1",
334,Маяк,"Береговая, 5",
335,Пристань,"Береговая, 9",
PLAN

mkdir -p "$work/ledgers"
cp "$work/anna/QuelvintLog/ledger.csv" "$work/ledgers/anna.csv"
cp "$work/boris/QuelvintLog/ledger.csv" "$work/ledgers/boris.csv"
cp "$work/anna/QuelvintLog/ledger.csv" "$work/ledgers/anna-backup.csv"
cd "$work"
"$cli" report ledgers --plan stations.csv --html report.html --csv report.csv
"$cli" report ledgers --plan stations.csv
chromium --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking --disable-component-update \
    --disable-sync --user-data-dir="$work/profile" --screenshot="$work/shot.png" --window-size=1200,1600 \
    "file://$work/report.html" 2>/dev/null
cp "$work/shot.png" "$out"
echo "report-demo: $out"

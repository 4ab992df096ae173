# The migration report of two laptops' ledgers as a person gets it: the HTML
# page opened offline in headless Chromium (its text holds the totals, what
# a ledger said is text and never markup, and a screenshot is kept for a
# person to look at) and the CSV read back with Python's csv module.
#   report_page_test.sh RECHANNEL-CLI SCREENSHOT.png
set -uo pipefail
cli=$1 screenshot=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home
mkdir -p "$HOME"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
command -v chromium >/dev/null || { echo "FAIL: no chromium (scripts/install-deps installs it)"; exit 1; }

header=time,port,address,system_before,channel_before,outcome,code,backup,verified,seconds,setup,note,host
# Anna's laptop: two moves, a station left partly written and a port whose
# name a hostile adapter driver chose.
cat >"$work/anna.csv" <<LEDGER
$header
2026-12-07T09:10:00+03:00,/dev/ttyUSB0,291,158,500,moved,0,/home/anna/b/291.bin,yes,2.10,aaaa,,anna-laptop
2026-12-07T09:20:00+03:00,"<script>document.title='owned'</script>",292,158,500,partly-written,5,/home/anna/b/292.bin,no,2.40,bbbb,"=HYPERLINK(""http://x"")",anna-laptop
2026-12-08T10:00:00+03:00,/dev/ttyUSB0,293,158,500,moved,0,/home/anna/b/293.bin,yes,2.00,cccc,,anna-laptop
LEDGER
# Boris's laptop: an older ledger (no host column), then the new format;
# he restored 291 after Anna moved it; his copy of Anna's ledger as well.
cat >"$work/boris.csv" <<LEDGER
time,port,address,system_before,channel_before,outcome,code,backup,verified,seconds,setup,note
2026-12-08T11:00:00+03:00,COM4,294,58,1902,other-system,3,,,1.00,dddd,
2026-12-08T12:00:00+03:00,COM4,291,158,500,restored,0,+backup.bin,,1.00,aaaa,,@boris
LEDGER
cp "$work/anna.csv" "$work/anna-copy.csv"

"$cli" report "$work/anna.csv" "$work/boris.csv" "$work/anna-copy.csv" --html "$work/report.html" --csv "$work/report.csv" \
    >"$work/out" 2>"$work/err" || fail "report exited $?: $(cat "$work/err")"

python3 - "$work/report.csv" <<'PY' || fail "the CSV"
import csv, sys
with open(sys.argv[1], newline="", encoding="utf-8") as f:
    rows = list(csv.reader(f))
assert rows[0] == "address,setup,state,outcome,time,host,port,backup".split(","), rows[0]
by = {r[0]: dict(zip(rows[0], r)) for r in rows[1:]}
assert len(rows) == 5, rows
assert by["291"]["state"] == "not-moved" and by["291"]["outcome"] == "restored", by["291"]
assert by["291"]["host"] == "'@boris" and by["291"]["backup"] == "'+backup.bin", by["291"]
assert by["292"]["state"] == "needs-attention" and by["292"]["port"].startswith("<script>"), by["292"]
assert by["294"]["state"] == "needs-attention" and by["294"]["host"] == "", by["294"]
assert by["293"]["state"] == "moved" and by["293"]["time"] == "2026-12-08T10:00:00+03:00", by["293"]
PY

browse() {
    local profile
    profile=$(mktemp -d -p "$work")
    timeout 60 chromium --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking \
        --disable-component-update --disable-sync --user-data-dir="$profile" "$@" "file://$work/report.html" 2>>"$work/chromium.log"
}
browse --dump-dom >"$work/dom" || fail "chromium --dump-dom: $(tail -3 "$work/chromium.log")"
text=$(sed -e 's/<[^>]*>/ /g' "$work/dom" | tr -s ' \n' ' ')
for want in "4 станций в журналах" "1 переведено" "2 требуют внимания" "1 восстановлено" "1 других систем" \
            "07.12.2026 09:10" "08.12.2026 12:00" "anna-laptop" "@boris" "неизвестен"; do
    grep -qF -- "$want" <<<"$text" || fail "the page does not say '$want'"
done
grep -qF '&lt;script&gt;document.title' "$work/dom" || fail "the hostile port is not shown as text"
! grep -qi '<script' "$work/dom" || fail "the page holds a script element"
grep -qF '<title>Отчёт о переводе станций</title>' "$work/dom" || fail "the page's title was changed"
! grep -qiE '(src|href)="?(https?:|//)' "$work/report.html" || fail "the page loads something from elsewhere"
grep -qF '@page { size: A4' "$work/report.html" || fail "no A4 page size"

mkdir -p "$(dirname "$screenshot")"
rm -f "$screenshot"
browse --screenshot="$screenshot" --window-size=1200,1600 >/dev/null || fail "chromium --screenshot"
[ -s "$screenshot" ] || fail "no screenshot at $screenshot"

[ "$failures" -eq 0 ]

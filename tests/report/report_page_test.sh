# The migration report of two laptops' ledgers and the operator's plan as a
# person gets it: the HTML page opened offline in headless Chromium (its text
# holds the totals and the counts against the plan, the lists of where the
# mesh is split name the right stations, the picture has one element per
# station, what a ledger or the plan said is text and never markup, and a
# screenshot is kept for a person to look at), the CSV read back with
# Python's csv module, and the text summary.
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

header=time,port,address,system_before,channel_before,outcome,code,backup,verified,seconds,setup,note,host,attached,parent,link,signal
# Anna's laptop: moves, a station left partly written and a port whose name
# a hostile adapter driver chose; each run with the place its station
# reported. The mesh: 290 (visited by nobody) is the parent of 291 and 293,
# 291 of 292 and 295, 293 of 296.
cat >"$work/anna.csv" <<LEDGER
$header
2026-12-07T09:10:00+03:00,/dev/ttyUSB0,291,158,500,moved,0,/home/anna/b/291.bin,yes,2.10,aaaa,,anna-laptop,1,290,3,-71
2026-12-07T09:20:00+03:00,"<script>document.title='owned'</script>",292,158,500,partly-written,5,/home/anna/b/292.bin,no,2.40,bbbb,"=HYPERLINK(""http://x"")",anna-laptop,1,291,2,-90
2026-12-08T10:00:00+03:00,/dev/ttyUSB0,293,158,500,moved,0,/home/anna/b/293.bin,yes,2.00,cccc,,anna-laptop,1,290,3,-75
2026-12-08T10:30:00+03:00,/dev/ttyUSB0,295,158,500,moved,0,/home/anna/b/295.bin,yes,2.00,eeee,,anna-laptop,1,291,1,-99
2026-12-08T10:40:00+03:00,/dev/ttyUSB0,296,158,500,unsupported,7,,,1.00,ffff,,anna-laptop,1,293,2,-80
LEDGER
# The operator's plan, as a spreadsheet set for Russian saves it, with texts
# that must stay text; 297 nobody has visited.
printf 'address;name;place\n290;Шлюз;Центральная, 1\n291;<img src=x onerror=alert(1)>;=SUM(A1)\n292;Школа;Лесная\n0x125;Котельная;\n296;Насосная;\n297;Маяк;Береговая\n' >"$work/plan.csv"
# Boris's laptop: an older ledger (no host column), then the new format;
# he restored 291 after Anna moved it; his copy of Anna's ledger as well.
cat >"$work/boris.csv" <<LEDGER
time,port,address,system_before,channel_before,outcome,code,backup,verified,seconds,setup,note
2026-12-08T11:00:00+03:00,COM4,294,58,1902,other-system,3,,,1.00,dddd,
2026-12-08T12:00:00+03:00,COM4,291,158,500,restored,0,+backup.bin,,1.00,aaaa,,@boris
LEDGER
cp "$work/anna.csv" "$work/anna-copy.csv"

ledgers=("$work/anna.csv" "$work/boris.csv" "$work/anna-copy.csv")
"$cli" report "${ledgers[@]}" --plan "$work/plan.csv" --html "$work/report.html" --csv "$work/report.csv" \
    >"$work/out" 2>"$work/err" || fail "report exited $?: $(cat "$work/err")"
"$cli" report "${ledgers[@]}" --plan "$work/plan.csv" >"$work/text" 2>"$work/err" || fail "the text summary exited $?"
for want in "plan: 6 stations; moved: 1; needing attention: 2; restored: 1; not yet visited: 2; met but not in the plan: 2: 294, 295" \
            "cut off from the old network: 1: 296" "alone in the new network: 2: 293, 295" "moving cuts off (stations): 2: 290 (2), 291 (1)"; do
    grep -qxF -- "$want" "$work/text" || fail "the text summary does not say '$want': $(cat "$work/text")"
done

python3 - "$work/report.csv" <<'PY' || fail "the CSV"
import csv, sys
with open(sys.argv[1], newline="", encoding="utf-8") as f:
    rows = list(csv.reader(f))
assert rows[0] == "address,setup,state,outcome,time,host,port,backup,parent,attached,link,signal,plan,name,place".split(","), rows[0]
by = {r[0]: dict(zip(rows[0], r)) for r in rows[1:]}
assert len(rows) == 7, rows
assert [by["292"][k] for k in ("parent", "attached", "link", "signal", "plan", "name")] == ["291", "1", "2", "-90", "yes", "Школа"], by["292"]
assert by["291"]["name"] == "<img src=x onerror=alert(1)>" and by["291"]["place"] == "'=SUM(A1)", by["291"]
assert by["294"]["plan"] == "no" and by["294"]["parent"] == "" and by["294"]["signal"] == "", by["294"]
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
for want in "6 станций в журналах" "2 переведено" "3 требуют внимания" "1 восстановлено" "1 других систем" \
            "07.12.2026 09:10" "08.12.2026 12:00" "anna-laptop" "@boris" "неизвестен"; do
    grep -qF -- "$want" <<<"$text" || fail "the page does not say '$want'"
done
grep -qF '&lt;script&gt;document.title' "$work/dom" || fail "the hostile port is not shown as text"
grep -qF '&lt;img src=x onerror=alert(1)&gt;' "$work/dom" || fail "the hostile name from the plan is not shown as text"
! grep -qi '<img' "$work/dom" || fail "the page holds an image element from the plan"
python3 - "$work/dom" <<'PY' || fail "the network section"
import sys
from html.parser import HTMLParser

class Page(HTMLParser):
    """Rows by list (the id of the block around them), stations of the picture, card texts."""
    def __init__(self):
        super().__init__()
        self.block, self.rows, self.stations, self.cards, self.card, self.in_network = None, {}, [], [], None, False
    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "section" and a.get("id") == "network": self.in_network = True
        if tag == "div" and "id" in a: self.block = a["id"]
        if tag == "tr" and "data-address" in a: self.rows.setdefault(self.block, []).append(a["data-address"])
        if tag == "g" and a.get("class") == "station": self.stations.append(a["data-address"])
        if tag == "div" and a.get("class") == "card" and self.in_network: self.card = []
    def handle_endtag(self, tag):
        if tag == "section": self.in_network = False
        if tag == "div" and self.card is not None and len(self.card) >= 2:
            self.cards.append(" ".join(self.card)); self.card = None
    def handle_data(self, data):
        if self.card is not None and data.strip(): self.card.append(data.strip())

page = Page()
page.feed(open(sys.argv[1], encoding="utf-8").read())
assert page.cards == ["6 станций в плане", "1 переведено", "2 требуют внимания", "2 ещё не посещены",
                      "2 встречены, но нет в плане"], page.cards
want = {"cut-off": ["296"], "alone-in-new": ["293", "295"], "would-cut-off": ["290", "291"],
        "not-visited": ["290", "297"], "plan-attention": ["292", "296"], "plan-restored": ["291"],
        "plan-moved": ["293"], "not-in-plan": ["294", "295"]}
for block, rows in want.items():
    assert page.rows.get(block) == rows, (block, page.rows.get(block))
assert sorted(page.stations) == [str(a) for a in range(290, 298)], page.stations
PY
! grep -qi '<script' "$work/dom" || fail "the page holds a script element"
grep -qF '<title>Отчёт о переводе станций</title>' "$work/dom" || fail "the page's title was changed"
! grep -qiE '(src|href)="?(https?:|//)' "$work/report.html" || fail "the page loads something from elsewhere"
grep -qF '@page { size: A4' "$work/report.html" || fail "no A4 page size"

mkdir -p "$(dirname "$screenshot")"
rm -f "$screenshot"
browse --screenshot="$screenshot" --window-size=1200,1600 >/dev/null || fail "chromium --screenshot"
[ -s "$screenshot" ] || fail "no screenshot at $screenshot"

[ "$failures" -eq 0 ]

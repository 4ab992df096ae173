# rechannel-cli(1) against the binary it was written from: a subsection for
# every command of --help holding every option of that command's --help, an
# entry for every exit status, and both pages render without a warning.
set -uo pipefail
cli=$1 cli_page=$2 gui_page=$3
HOME=$(mktemp -d)
export HOME
trap 'rm -rf "$HOME"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

page=$(zcat "$cli_page")
overview=$("$cli" --help)
commands=$(awk '/^Commands:$/ { on = 1; next } on && /^$/ { exit } on && /^  [a-z]/ { print $1 }' <<<"$overview")
[ "$(wc -w <<<"$commands")" -ge 7 ] || fail "only '$commands' in --help"

for command in $commands; do
    section=$(awk -v title=".SS \"rechannel\\\\-cli $command " '
        index($0, title) == 1 { on = 1; next } on && /^\.S[SH]/ { exit } on' <<<"$page")
    [ -n "$section" ] || { fail "no subsection for $command"; continue; }
    for option in $("$cli" "$command" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
        grep -qF "\\fB${option//-/\\-}\\fR" <<<"$section" || fail "$command: $option missing"
    done
done

statuses=$(awk '/^\.SH "?EXIT STATUS/ { on = 1; next } on && /^\.SH/ { exit } on && /^[0-9]+$/' <<<"$page")
expected=$(sed -n '/^Exit status/,/^$/p' <<<"$overview" | grep -o '[0-9]\+ [a-z]' | cut -d' ' -f1)
[ -n "$expected" ] || fail "no exit statuses in --help"
[ "$statuses" = "$expected" ] || fail "exit statuses '$statuses', --help lists '$expected'"

# Written in a throw-away home: no path of it may reach the reader's page.
! grep -q -e '/tmp/' -e "$HOME" <<<"$page" || fail "the page names a build-time path: $(grep -m1 -e /tmp/ <<<"$page")"

for p in "$cli_page" "$gui_page"; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$p" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$p: $warnings"
done

[ "$failures" -eq 0 ]

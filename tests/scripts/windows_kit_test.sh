# scripts/windows-kit's cache, without building a kit: a kit is found only
# when complete and under the key of this very script, and any change to the
# script gives another key. Rows: what the cache holds, the exit status and
# whether the kit's path is printed.
set -uo pipefail
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CACHE_HOME=$work/cache
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The path the script expects, from its refusal.
kit=$("$script" --no-build 2>&1 | sed -n 's/^windows-kit: no complete Windows kit at \(.*\): run make windows-kit$/\1/p')
[ -n "$kit" ] || { echo "FAIL: --no-build named no kit path"; exit 1; }
case $kit in "$XDG_CACHE_HOME"/rechannel/windows-kit-qt*) ;; *) fail "kit path $kit is outside the cache" ;; esac

files=(bin/qt-cmake bin/Qt6Core.dll bin/Qt6Gui.dll bin/Qt6Widgets.dll
       plugins/platforms/qwindows.dll plugins/styles/qwindowsvistastyle.dll lib/cmake/Qt6/qt.toolchain.cmake
       lib/libpugixml.a lib/cmake/pugixml/pugixml-config.cmake share/rechannel-kit/toolchain.cmake)
make_kit() {  # make_kit DIR [FILE LEFT OUT]
    rm -rf "$1"
    local f
    for f in "${files[@]}"; do
        [ "$f" = "${2:-}" ] && continue
        mkdir -p "$(dirname "$1/$f")" && touch "$1/$f"
    done
}
expect() {  # expect WHAT STATUS PRINTED
    local out status=0
    out=$("$script" --no-build 2>/dev/null) || status=$?
    [ "$status" = "$2" ] || fail "$1: exit $status, expected $2"
    [ "$out" = "$3" ] || fail "$1: printed '$out', expected '$3'"
}

expect "no kit" 1 ""
make_kit "$kit" plugins/platforms/qwindows.dll
expect "a kit without its platform plugin" 1 ""
make_kit "$kit" lib/libpugixml.a
expect "a kit without pugixml" 1 ""
make_kit "$kit" plugins/styles/qwindowsvistastyle.dll
expect "a kit without the style the windows use" 1 ""
make_kit "$kit"
expect "a complete kit" 0 "$kit"

# The same script with one more comment line is another recipe.
cp "$script" "$work/windows-kit" && echo "# changed" >>"$work/windows-kit"
other=$("$work/windows-kit" --no-build 2>&1 | sed -n 's/^windows-kit: no complete Windows kit at \(.*\): run make windows-kit$/\1/p')
[ -n "$other" ] && [ "$other" != "$kit" ] || fail "a changed script gave the key '$other' of the old one"
[ "$failures" -eq 0 ]

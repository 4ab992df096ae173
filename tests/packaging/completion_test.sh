# The bash completion of rechannel-cli run against the real binary: each row
# is the words typed so far and the completions they must give.
set -uo pipefail
cli=$1
source "$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" && mkdir -m 700 -p "$XDG_RUNTIME_DIR/rechannel-ports"
# A published station whose device is /dev/null: discovery lists it.
ln -s /dev/null "$XDG_RUNTIME_DIR/rechannel-ports/TUSB test station"
touch "$work/state.bin"

failures=0
complete_words() {
    COMP_WORDS=("$cli" "$@")
    COMP_CWORD=$#
    COMPREPLY=()
    _rechannel_cli
    printf '%s\n' "${COMPREPLY[@]}" | sort
}
expect() {  # expect "EXPECTED LINES (sorted, exact)" WORD...
    local want=$1
    shift
    local got
    got=$(complete_words "$@")
    [ "$got" = "$want" ] || { echo "FAIL: '$*' gave '$got', expected '$want'"; failures=$((failures + 1)); }
}

# Rows that other options may join later list what must be among them.
includes() {  # includes "WANTED LINES" WORD...
    local want=$1
    shift
    local got missing
    got=$(complete_words "$@")
    missing=$(comm -23 <(sort <<<"$want") <(printf '%s\n' "$got"))
    [ -z "$missing" ] || { echo "FAIL: '$*' gave '$got', without '$missing'"; failures=$((failures + 1)); }
}

expect "program" pro
expect "--interval" sniff --port /x --int
expect "/dev/null" status --port /dev/nu
# An empty --port offers the discovered ports, not the files around it.
got=$(cd "$work" && complete_words program --port "")
grep -qx /dev/null <<<"$got" || { echo "FAIL: --port offered '$got', not the published station"; failures=$((failures + 1)); }
! grep -q state.bin <<<"$got" || { echo "FAIL: --port offered files: '$got'"; failures=$((failures + 1)); }
expect "$work/state.bin" simulate --state "$work/sta"
expect "" sniff --interval ""
includes "$(printf '%s\n' --help --version ports program restore status routes sniff simulate)" ""
includes "$(printf '%s\n' --help --port --simulate --verify --wire-trace)" program --
[ "$failures" -eq 0 ]

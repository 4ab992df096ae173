# Turns one command's --help (QCommandLineParser layout) into a man page
# subsection: the usage line as its title, the description, then every
# option and argument as a tagged paragraph. Set -v cmd=COMMAND.
function roff(text) {
    gsub(/\\/, "\\e", text)
    gsub(/-/, "\\-", text)
    sub(/^[.']/, "\\\\&&", text)
    return text
}
# "-h, --help" or "--port <PATH>": option names bold, value names italic.
function term(text,    n, i, words, out) {
    n = split(text, words, " ")
    out = ""
    for (i = 1; i <= n; i++) {
        if (words[i] ~ /^-/) out = out "\\fB" roff(words[i]) "\\fR"
        else out = out "\\fI" roff(words[i]) "\\fR"
        if (i < n) out = out " "
    }
    return out
}
function flush() {
    if (tag != "") { print ".TP"; print term(tag); print roff(desc) }
    tag = ""; desc = ""
}
NR == 1 {
    line = $0
    sub(/^Usage: /, "", line)
    # Whatever the program printed for its own name, the page says rechannel-cli COMMAND.
    sub(/^[^ ]+( +rechannel-cli)?/, "", line)
    if (index(line, " " cmd) == 1) line = substr(line, length(cmd) + 2)
    print ".SS \"" roff("rechannel-cli " cmd line) "\""
    next
}
/^(Options|Arguments):$/ { flush(); section = $0; print ".PP"; print "\\fI" section "\\fR"; next }
/^$/ { flush(); next }
section == "" { print roff($0); next }
/^  [^ ]/ {
    flush()
    line = substr($0, 3)
    split_at = match(line, /  +/)
    if (split_at) { tag = substr(line, 1, split_at - 1); desc = substr(line, split_at + RLENGTH) }
    else { tag = line; desc = "" }
    next
}
/^   +[^ ]/ { sub(/^ +/, ""); desc = desc " " $0; next }
END { flush() }

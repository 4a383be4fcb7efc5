#!/usr/bin/env bash
# End-to-end tests of the velk tool: velk_cli_test.sh VELK_BINARY VERSION CASE WORKDIR
# Each CASE is a function below; it runs the tool and compares exit status,
# standard output, standard error and files byte for byte.
set -u

velk=$1
version=$2
case_name=$3
work=$4

rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# run [--stdin FILE] ARGS...: runs the tool; sets status, out and err.
run() {
    local input=/dev/null
    if [ "${1:-}" = --stdin ]; then
        input=$2
        shift 2
    fi
    "$velk" "$@" <"$input" >out.txt 2>err.txt
    status=$?
    out=$(cat out.txt; echo x) && out=${out%x}
    err=$(cat err.txt; echo x) && err=${err%x}
}

expect_status() { [ "$status" -eq "$1" ] || fail "exit status $status, expected $1 ($2)"; }
expect_out() { [ "$out" = "$1" ] || fail "stdout was [$out], expected [$1] ($2)"; }
expect_err() { [ "$err" = "$1" ] || fail "stderr was [$err], expected [$1] ($2)"; }
expect_file() {
    local content
    content=$(cat "$1"; echo x) && content=${content%x}
    [ "$content" = "$2" ] || fail "$1 holds [$content], expected [$2] ($3)"
}
expect_no_temporaries() {
    local left
    left=$(find . -name '.velk-*')
    [ -z "$left" ] || fail "temporary files left behind: $left ($1)"
}

# Sample documents.
printf '<?xml version="1.0"?><shelf><book id="1">Dune</book><book id="2"/></shelf>' >good.xml
good_pretty='<?xml version="1.0" ?>
<shelf>
    <book id="1">Dune</book>
    <book id="2" />
</shelf>
'
printf '<root>\n  <a></b>\n</root>\n' >broken.xml
broken_error='broken.xml:2:6: error: Error reading end tag.
'

case_check_ok() {
    run check good.xml
    expect_status 0 "well-formed file"
    expect_out "" "check prints nothing on success"
    expect_err "" "check prints nothing on success"
}

case_check_broken() {
    run check broken.xml
    expect_status 1 "mismatched end tag"
    expect_out "" "errors go to stderr"
    expect_err "$broken_error" "row and column counted from 1"
}

case_check_positionless() {
    printf '<a>' >open.xml
    : >empty.xml
    mkdir folder
    run check open.xml missing.xml empty.xml folder
    expect_status 1 "errors without a position"
    expect_err 'open.xml: error: Error reading Element value.
missing.xml: error: Failed to open file
empty.xml: error: Error document empty.
folder: error: Failed to open file
' "one line per file, no position"
}

case_check_many() {
    run check good.xml broken.xml good.xml missing.xml
    expect_status 1 "one broken file among good ones"
    expect_err "${broken_error}missing.xml: error: Failed to open file
" "each broken file reported once, in order"
    run check good.xml good.xml
    expect_status 0 "all files well formed"
}

case_check_stdin() {
    printf '<a>\n\t<b></c>\n</a>' >in.xml
    run --stdin in.xml check -
    expect_status 1 "broken standard input"
    # The tab moves to the next stop (every 4 columns), so </c> stands in column 8.
    expect_err '<stdin>:2:8: error: Error reading end tag.
' "standard input is named <stdin>"
    run --stdin /dev/null check -
    expect_status 1 "empty standard input"
    expect_err '<stdin>: error: Error document empty.
' "empty standard input"
}

case_top_level_text() {
    printf '<a/>not markup <b></c>' >trailing.xml
    run check trailing.xml
    expect_status 0 "text at the top level ends the parse quietly"
    run format trailing.xml
    expect_out '<a />
' "nothing after the top-level text is kept"
}

case_format_stdout() {
    run format good.xml
    expect_status 0 "format to standard output"
    expect_out "$good_pretty" "pretty form"
    expect_err "" "no message"
}

case_format_stdin() {
    run --stdin good.xml format
    expect_status 0 "format with no FILE reads standard input"
    expect_out "$good_pretty" "pretty form of standard input"
    run --stdin good.xml format -
    expect_out "$good_pretty" "'-' reads standard input"
    run --stdin broken.xml format
    expect_status 1 "broken standard input"
    expect_out "" "nothing written for broken input"
    expect_err '<stdin>:2:6: error: Error reading end tag.
' "broken standard input"
}

case_format_output_file() {
    run format -o out.xml good.xml
    expect_status 0 "format -o"
    expect_out "" "nothing on standard output with -o"
    expect_file out.xml "$good_pretty" "-o writes the pretty form"
    printf 'precious' >kept.xml
    run format -o kept.xml broken.xml
    expect_status 1 "format -o of a broken file"
    expect_err "$broken_error" "reported as check reports it"
    expect_file kept.xml 'precious' "OUT stays untouched on failure"
    run format -o nowhere/out.xml good.xml
    expect_status 1 "OUT in a missing folder"
    [ -n "$err" ] || fail "no message for an unwritable OUT"
    expect_no_temporaries "format -o"
}

case_format_in_place() {
    cp good.xml edit.xml
    chmod 640 edit.xml
    run format -i edit.xml
    expect_status 0 "format -i"
    expect_out "" "nothing on standard output with -i"
    expect_file edit.xml "$good_pretty" "-i rewrites the file"
    [ "$(stat -c %a edit.xml)" = 640 ] || fail "-i changed the permissions"
    cp broken.xml edit-broken.xml
    run format -i edit-broken.xml
    expect_status 1 "format -i of a broken file"
    expect_err 'edit-broken.xml:2:6: error: Error reading end tag.
' "reported as check reports it"
    expect_file edit-broken.xml "$(cat broken.xml)
" "FILE stays untouched on failure"
    cp good.xml target.xml
    ln -s target.xml link.xml
    run format -i link.xml
    expect_status 0 "format -i through a symbolic link"
    [ -L link.xml ] || fail "-i replaced the symbolic link"
    expect_file target.xml "$good_pretty" "-i rewrites the link's target"
    expect_no_temporaries "format -i"
}

case_compact() {
    printf '<?xml version="1.0"?>\n<a x="1">\n  <b/>\n  t\n</a>\n<!-- after -->\n<c/>\n' >two.xml
    run compact two.xml
    expect_status 0 "compact"
    expect_out '<?xml version="1.0" ?><a x="1"><b />t</a>
' "compact form stops after the first element"
    run --stdin two.xml compact -
    expect_out '<?xml version="1.0" ?><a x="1"><b />t</a>
' "compact form of standard input"
    run compact broken.xml
    expect_status 1 "compact of a broken file"
    expect_out "" "nothing written for a broken file"
    expect_err "$broken_error" "reported as check reports it"
}

case_escaping() {
    printf '<t a="&quot;q&quot;">x &lt; y &amp;&#x41;&#xe9; \351</t>' >esc.xml
    run format esc.xml
    expect_status 0 "entities"
    expect_out "<t a='&quot;q&quot;'>x &lt; y &amp;A&#xE9; &#xE9;</t>
" "references decoded, bytes outside printable ASCII written as &#xHH;"
}

case_keep_whitespace() {
    printf '<a>  x \t  y  </a>' >ws.xml
    run format ws.xml
    expect_out '<a>x y</a>
' "text content condensed by default"
    run format --keep-whitespace ws.xml
    expect_status 0 "--keep-whitespace"
    expect_out '<a>x &#x09;  y  </a>
' "text kept as it stands after its leading white space"
    run compact ws.xml --keep-whitespace
    expect_out '<a>x &#x09;  y  </a>
' "options may follow the file"
}

case_usage() {
    local -a cases=(
        "no command given|"
        "unknown command 'lint'|lint a.xml"
        "unknown option '-x'|check -x a.xml"
        "option -o needs a file name|format a.xml -o"
        "-o and -i cannot be used together|format -i -o b.xml a.xml"
        "-i needs a FILE to rewrite|format -i"
        "-i needs a FILE to rewrite|format -i -"
        "check needs at least one FILE|check"
        "check writes nothing: -o and -i do not apply|check -i a.xml"
        "only one FILE can be given|format a.xml b.xml"
        "compact writes to standard output: -o and -i do not apply|compact -o b.xml a.xml"
    )
    local entry reason args
    for entry in "${cases[@]}"; do
        reason=${entry%%|*}
        args=${entry#*|}
        # shellcheck disable=SC2086
        run $args
        expect_status 2 "velk $args"
        case "$err" in
            "velk: $reason"$'\n'"Usage: velk check"*) ;;
            *) fail "velk $args: stderr [$err], expected the reason '$reason' and the usage" ;;
        esac
        expect_out "" "velk $args writes nothing to stdout"
    done
}

case_help_version() {
    run --help
    expect_status 0 "--help"
    case "$out" in
        "Usage: velk check"*) ;;
        *) fail "--help printed [$out]" ;;
    esac
    run format --help
    expect_status 0 "--help after a command"
    run --version
    expect_status 0 "--version"
    expect_out "velk $version
" "--version prints the library version"
}

if ! declare -F "case_$case_name" >/dev/null; then
    echo "unknown case $case_name" >&2
    exit 1
fi
"case_$case_name"
if [ "$failures" -ne 0 ]; then
    echo "$case_name: $failures failure(s)" >&2
    exit 1
fi
echo "$case_name: passed"

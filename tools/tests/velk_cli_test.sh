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
# expect_bytes FILE EXPECTED_FILE WHAT: the two files hold the same bytes.
expect_bytes() {
    cmp -s "$1" "$2" || fail "$1 differs from $2 ($3): $(cmp "$1" "$2" 2>&1)"
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
broken_error='broken.xml:2:6: error: end tag does not match its start tag.
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

# Input that ends too soon: strict reading says where what is left open
# begins, and where an element was looked for; the lenient grammar gives no
# position.
case_check_positionless() {
    printf '<a>' >open.xml
    : >empty.xml
    run check open.xml empty.xml
    expect_status 1 "input that ends too soon"
    expect_err 'open.xml:1:1: error: input ends before the markup or element is closed.
empty.xml:1:1: error document empty.
' "one line per file"
    run check --lax open.xml empty.xml
    expect_status 1 "errors without a position"
    expect_err 'open.xml: error reading Element value.
empty.xml: error document empty.
' "one line per file, no position"
}

# A folder that user nobody can reach, with a copy of the tool and of the
# library it loads; prints the folder, or the reason it cannot be arranged.
reachable_copy() {
    local dir soname path
    dir=$(mktemp -d /tmp/velk-cli.XXXXXX) || { echo "no folder in /tmp"; return 1; }
    chmod 755 "$dir"
    cp "$velk" "$dir/velk" || { echo "cannot copy the tool"; return 1; }
    read -r soname path < <(ldd "$velk" | awk '/libvelk/ { print $1, $3 }')
    if [ -n "${soname:-}" ]; then
        cp -L "$path" "$dir/$soname" || { echo "cannot copy $path"; return 1; }
    fi
    echo "$dir"
}

# Files that cannot be read are reported with the reason the system gives.
# Root reads every file, so as root the files are read as nobody, from a
# folder that user can reach (the build tree may be in one only its owner
# can enter); where that cannot be arranged, that part is skipped, saying why.
case_open_reasons() {
    local dir=$work tool=$velk
    local -a as_other=()
    if [ "$(id -u)" -eq 0 ]; then
        if ! dir=$(reachable_copy); then
            echo "open_reasons: reading as another user skipped: $dir"
            dir=""
        else
            # shellcheck disable=SC2064
            trap "rm -rf '$dir'" EXIT
            tool=$dir/velk
            as_other=(env LD_LIBRARY_PATH="$dir" setpriv --reuid=65534 --regid=65534 --clear-groups)
            if ! "${as_other[@]}" "$tool" --version >/dev/null 2>&1; then
                echo "open_reasons: reading as another user skipped: nobody cannot run $tool"
                dir=""
            fi
        fi
    fi
    if [ -n "$dir" ]; then
        cd "$dir" || exit 1
        mkdir folder
        printf '<a/>' >secret.xml
        chmod 000 secret.xml
        "${as_other[@]}" "$tool" check missing.xml folder secret.xml >out.txt 2>err.txt
        status=$?
        err=$(cat err.txt)
        expect_status 1 "unreadable files"
        expect_err 'missing.xml: error: Failed to open file: No such file or directory
folder: error: Failed to open file: Is a directory
secret.xml: error: Failed to open file: Permission denied' "reasons"
        cd "$work" || exit 1
    fi
    run format -i missing.xml
    expect_status 1 "format -i of a missing file"
    expect_err 'missing.xml: error: Failed to open file: No such file or directory
' "format gives the reason too"
    [ ! -e missing.xml ] || fail "format -i created the missing file"
}

case_check_many() {
    run check good.xml broken.xml good.xml missing.xml
    expect_status 1 "one broken file among good ones"
    expect_err "${broken_error}missing.xml: error: Failed to open file: No such file or directory
" "each broken file reported once, in order"
    run check good.xml good.xml
    expect_status 0 "all files well formed"
}

case_check_stdin() {
    printf '<a>\n\t<b></c>\n</a>' >in.xml
    run --stdin in.xml check -
    expect_status 1 "broken standard input"
    # The tab moves to the next stop (every 4 columns), so </c> stands in column 8.
    expect_err '<stdin>:2:8: error: end tag does not match its start tag.
' "standard input is named <stdin>"
    run --stdin /dev/null check -
    expect_status 1 "empty standard input"
    expect_err '<stdin>:1:1: error document empty.
' "empty standard input"
}

# check rejects whatever is not one XML document, and says what is wrong and
# where: each row is a printf format for the file, then the expected message
# after the file name. The word "error" is never said twice.
case_check_not_xml() {
    local -a cases=(
        '[core]\nname = x\n|:1:1: error: text outside the document element.'
        '\x7fELF\x02\x01\x01\x00|:1:5: error: character U+0002 is not allowed in XML'
        '<a/>trailing\n|:1:5: error: text outside the document element.'
        '<a/>\n<b/>\n|:2:1: error: more than one document element.'
        '<?xml version="1.0"?>\n<!-- no element -->\n|:3:1: error: no document element'
        '  \n\n|:3:1: error document empty.'
        '\xef\xbb\xbf|:1:1: error document empty.'
        '\xef\xbb\xbf \n|:2:1: error document empty.'
        '</a>|:1:1: error: end tag without a start tag.'
        '<a/>\n</a>|:2:1: error: end tag without a start tag.'
        '<1a/>|:1:2: error: not a well-formed XML name.'
        '<r>\n  <a>x < y</a></r>|:2:9: error: not a well-formed XML name.'
        '<r><![CDATA[x</r>|:1:4: error: CDATA section not closed.'
        '<?xml version="1.0" encoding="UTF-16"?><a/>|:1:1: error: the file declares the encoding '"'UTF-16'"', but its declaration is not written in it'
        '<?xml version="1.0" encoding="x-unknown"?><a/>|: error: iconv does not know the encoding '"'x-unknown'"' that the file declares, so it cannot be read'
        '<?xml version="1.0" encoding="US-ASCII"?><a>caf\xc3\xa9</a>|:1:48: error: bytes not valid in the encoding '"'US-ASCII'"

        '<a>\x00</a>|:1:4: error: character U+0000 is not allowed in XML'
        '<a>\x1b</a>|:1:4: error: character U+001B is not allowed in XML'
        '<a>caf\xe9</a>|:1:7: error: bytes not valid in the encoding '"'UTF-8'"
        '<?xml version="1.0" encoding="windows-1252"?>\n<a>\x81</a>|:2:4: error: bytes not valid in the encoding '"'windows-1252'"
    )
    # What the lenient grammar reads without an error, as unknown markup or
    # one more element, the tool refuses in its own words, at the first of
    # them, before an error that the parse finds later.
    local -a lax=(
        '</a>|:1:1: error: end tag without a start tag'
        '<a/>\n</a>|:2:1: error: end tag without a start tag'
        '<1a/>|:1:1: error: tag without a name'
        '<a/>< a/>|:1:5: error: tag without a name'
        '<r>\n  <a>x < y</a></r>|:2:8: error: tag without a name'
        '<a/>\n<!-- c --><b/>\n|:2:11: error: more than one document element'
        '<a/><b></c>|:1:5: error: more than one document element'
        '<a><1/></b>|:1:4: error: tag without a name'
        '<a></b><1/>|:1:4: error reading end tag.'
        '<?xml version="1.0"?>\n<!-- no element -->\n|: error: no document element'
        '  \n\n|: error document empty.'
    )
    local entry i=0
    for entry in "${cases[@]}"; do
        i=$((i + 1))
        # shellcheck disable=SC2059
        printf "${entry%%|*}" >"bad$i.xml"
        run check "bad$i.xml"
        expect_status 1 "check of bad$i.xml"
        expect_err "bad$i.xml${entry#*|}
" "check of bad$i.xml"
    done
    for entry in "${lax[@]}"; do
        i=$((i + 1))
        # shellcheck disable=SC2059
        printf "${entry%%|*}" >"bad$i.xml"
        for command in check format; do
            run "$command" --lax "bad$i.xml"
            expect_status 1 "$command --lax of bad$i.xml"
            expect_out "" "$command --lax of bad$i.xml writes nothing"
            expect_err "bad$i.xml${entry#*|}
" "$command --lax of bad$i.xml"
        done
    done
    printf '<!DOCTYPE a><?php x ?><a><!X/></a>' >unknown.xml
    run check --lax unknown.xml
    expect_status 0 "markup that the lenient grammar keeps as unknown"
    printf '\xef\xbb\xbf<?xml version="1.0"?>\n<a/>\n' >bom.xml
    run check bom.xml
    expect_status 0 "a UTF-8 byte-order mark before the declaration"
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
    expect_err '<stdin>:2:6: error: end tag does not match its start tag.
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
    expect_err 'edit-broken.xml:2:6: error: end tag does not match its start tag.
' "reported as check reports it"
    expect_file edit-broken.xml "$(cat broken.xml)
" "FILE stays untouched on failure"
    expect_no_temporaries "format -i"
}

# -i works as sed -i: a new file takes FILE's place. A hard link keeps the old
# content; a symbolic link becomes a file, unless --follow-symlinks, which
# rewrites the file it leads to.
case_format_in_place_links() {
    cp good.xml hard.xml
    ln hard.xml other-name.xml
    run format -i hard.xml
    expect_status 0 "format -i of a file with two names"
    expect_file hard.xml "$good_pretty" "the name given is rewritten"
    expect_bytes other-name.xml good.xml "the other name keeps the old content"
    cp good.xml target.xml
    ln -s target.xml link.xml
    run format -i link.xml
    expect_status 0 "format -i of a symbolic link"
    [ ! -L link.xml ] || fail "-i kept the symbolic link"
    expect_file link.xml "$good_pretty" "the link became the rewritten file"
    expect_bytes target.xml good.xml "the link's target stays as it was"
    rm link.xml
    ln -s target.xml link.xml
    run format -i --follow-symlinks link.xml
    expect_status 0 "format -i --follow-symlinks"
    [ -L link.xml ] || fail "--follow-symlinks replaced the symbolic link"
    expect_file target.xml "$good_pretty" "--follow-symlinks rewrites the link's target"
    run format --follow-symlinks good.xml
    expect_status 2 "--follow-symlinks without -i"
    expect_no_temporaries "format -i with links"
}

# -i keeps the owner, the group and the mode of the file; root can give the
# new file to anyone, so the owner is tested as root.
case_format_in_place_owner() {
    cp good.xml owned.xml
    chmod 604 owned.xml
    local owner
    owner=$(stat -c %u:%g owned.xml)
    if [ "$(id -u)" -eq 0 ]; then
        chown 65534:65534 owned.xml
        owner=65534:65534
    else
        echo "not root: the owner is the caller's own; giving it away is not tested"
    fi
    run format -i owned.xml
    expect_status 0 "format -i of a file of another owner"
    expect_file owned.xml "$good_pretty" "rewritten"
    [ "$(stat -c %u:%g owned.xml)" = "$owner" ] ||
        fail "-i changed the owner to $(stat -c %u:%g owned.xml), expected $owner"
    [ "$(stat -c %a owned.xml)" = 604 ] || fail "-i changed the mode to $(stat -c %a owned.xml)"
}

case_compact() {
    printf '<?xml version="1.0"?>\n<a x="1">\n  <b/>\n  t\n</a>\n<!-- after -->\n' >two.xml
    run compact two.xml
    expect_status 0 "compact"
    expect_out '<?xml version="1.0" ?><a x="1">
  <b />
  t
</a>
' "compact form stops after the first element, text kept"
    run --stdin two.xml compact -
    expect_out '<?xml version="1.0" ?><a x="1">
  <b />
  t
</a>
' "compact form of standard input"
    run compact --condense two.xml
    expect_out '<?xml version="1.0" ?><a x="1"><b />t</a>
' "compact --condense"
    run compact broken.xml
    expect_status 1 "compact of a broken file"
    expect_out "" "nothing written for a broken file"
    expect_err "$broken_error" "reported as check reports it"
}

case_escaping() {
    printf '<t a="&quot;q&quot;">x &lt; y &amp;&#x41;&#233;&#x00E9; \303\251 &#x1F600;</t>' >esc.xml
    run format esc.xml
    expect_status 0 "references"
    expect_out "$(printf '%s\303\251\303\251 \303\251 \360\237\230\200</t>' "<t a='&quot;q&quot;'>x &lt; y &amp;A")
" "references decoded to UTF-8, characters written as themselves"
    printf '<t a="x&#10;y\ty">a&#13;\r\nb</t>' >white.xml
    run format --keep-whitespace white.xml
    expect_status 0 "white space characters from references"
    expect_out '<t a="x&#x0A;y y">a&#x0D;
b</t>
' "written as references where a literal one would read otherwise"
}

# A document of several megabytes is written as it is made, a megabyte at a
# time: nothing is lost or repeated where the pieces meet, and in ASCII a
# piece that holds another character is written with a reference for it.
case_format_large() {
    awk 'BEGIN {
        print "<?xml version=\"1.0\" encoding=\"US-ASCII\"?>\n<r>"
        for (i = 0; i < 200000; i++) printf "<i n=\"%d\">x%s</i>\n", i, i == 70000 ? "&#233;" : ""
        print "</r>" }' >large.xml
    awk 'BEGIN {
        print "<?xml version=\"1.0\" encoding=\"US-ASCII\" ?>\n<r>"
        for (i = 0; i < 200000; i++) printf "    <i n=\"%d\">x%s</i>\n", i, i == 70000 ? "&#xE9;" : ""
        print "</r>" }' >large-pretty.xml
    [ "$(wc -c <large-pretty.xml)" -gt 3000000 ] || fail "the sample is too small to be written in pieces"
    run format -o out.xml large.xml
    expect_status 0 "format of a large file"
    expect_bytes out.xml large-pretty.xml "the pretty form, whole"
    cp large.xml edit.xml
    run format -i edit.xml
    expect_bytes edit.xml large-pretty.xml "-i writes the same"
    awk 'BEGIN {
        printf "<?xml version=\"1.0\" encoding=\"US-ASCII\" ?><r>"
        for (i = 0; i < 200000; i++) printf "<i n=\"%d\">x%s</i>", i, i == 70000 ? "&#xE9;" : ""
        print "</r>" }' >large-compact.xml
    "$velk" compact large.xml >compact.xml
    expect_bytes compact.xml large-compact.xml "the compact form, whole"
    expect_no_temporaries "format of a large file"
}

# A UTF-8 document in the pretty form comes back byte for byte: non-ASCII
# names, attribute values, text and comments, CDATA, and a byte-order mark.
case_utf8_round_trip() {
    cat >utf8.xml <<'XML'
<?xml version="1.0" encoding="UTF-8" ?>
<週報 état="été">
    <!-- commentaire : ça & là -->
    <項目>Grüße, 世界 &amp; &lt;tags&gt;</項目>
    <empty />
    <code><![CDATA[a < b && c > d]]></code>
</週報>
XML
    run format utf8.xml
    expect_status 0 "format of a UTF-8 file"
    expect_out "$(cat utf8.xml)
" "the pretty form of a pretty UTF-8 file is the file"
    run format --lax utf8.xml
    expect_status 0 "format --lax, which reads the written form back first"
    expect_out "$(cat utf8.xml)
" "the same form with the lenient grammar"
    cp utf8.xml edit.xml
    run format -i edit.xml
    expect_status 0 "format -i of a UTF-8 file"
    expect_bytes edit.xml utf8.xml "-i keeps a pretty UTF-8 file as it is"
    { printf '\xef\xbb\xbf'; cat utf8.xml; } >bom.xml
    cp bom.xml edit-bom.xml
    run format -i edit-bom.xml
    expect_status 0 "format -i of a file with a byte-order mark"
    expect_bytes edit-bom.xml bom.xml "the byte-order mark is kept"
}

# A document in another encoding is read and written in it, declaration kept;
# a character that the encoding lacks is written as a reference.
case_other_encodings() {
    printf '<?xml version="1.0" encoding="ISO-8859-1"?>\n<r\351sum\351 lang="fran\347ais">\n<p>Caf\351 &#233; &#x4E2D;</p></r\351sum\351>\n' >latin1.xml
    printf '<?xml version="1.0" encoding="ISO-8859-1" ?>\n<r\351sum\351 lang="fran\347ais">\n    <p>Caf\351 \351 &#x4E2D;</p>\n</r\351sum\351>\n' >latin1-pretty.xml
    run format -o out.xml latin1.xml
    expect_status 0 "format of an ISO-8859-1 file"
    expect_bytes out.xml latin1-pretty.xml "written back in ISO-8859-1"
    cp latin1.xml edit.xml
    run format -i edit.xml
    expect_status 0 "format -i of an ISO-8859-1 file"
    expect_bytes edit.xml latin1-pretty.xml "rewritten in ISO-8859-1"
    run check latin1.xml
    expect_status 0 "check of an ISO-8859-1 file"

    printf '<?xml version="1.0" encoding="UTF-16"?>\n<r a="\303\251">\344\270\255</r>\n' |
        iconv -f UTF-8 -t UTF-16LE >utf16.body
    { printf '\xff\xfe'; cat utf16.body; } >utf16.xml
    printf '<?xml version="1.0" encoding="UTF-16" ?>\n<r a="\303\251">\344\270\255</r>\n' |
        iconv -f UTF-8 -t UTF-16LE >utf16-pretty.body
    { printf '\xff\xfe'; cat utf16-pretty.body; } >utf16-pretty.xml
    run format -o out16.xml utf16.xml
    expect_status 0 "format of a UTF-16 file with a byte-order mark"
    expect_bytes out16.xml utf16-pretty.xml "written back in UTF-16, mark first"
}

# Documents that format, -i and compact refuse, leaving the file as it is,
# and whether check accepts them, all read with the lenient grammar (a strict
# reading refuses most of them before the tool looks): each row is a printf
# format for the file, check's exit status, then the message after the file
# name.
case_refusals() {
    local -a cases=(
        '<r a="&e;"/>|0|:1:7: error: cannot write back the entity reference '"'&e;'"': the document does not declare the entity'
        '<!DOCTYPE r [<!ENTITY e SYSTEM "e.xml">]>\n<r>&e;</r>\n|0|:2:4: error: cannot write back the reference '"'&e;'"' to an external entity: velk reads no external entity'
        '<!DOCTYPE r [<!ENTITY e "x">]>\n<r>&f;&e;</r>\n|0|:2:4: error: cannot write back the entity reference '"'&f;'"': the document does not declare the entity'
        '<r>a & b</r>|1|:1:6: error: '"'&'"' is not a reference XML allows'
        '<r>&#xD800;</r>|1|:1:4: error: '"'&#xD800;'"' is not a reference XML allows'
        '<?xml version="1.0" encoding="x-unknown"?><r/>|1|: error: iconv does not know the encoding '"'x-unknown'"' that the file declares, so it cannot be read'
        '<r>caf\xe9</r>|1|:1:7: error: bytes not valid in the encoding '"'UTF-8'"
    )
    local entry rest check_status message i=0
    for entry in "${cases[@]}"; do
        i=$((i + 1))
        rest=${entry#*|}
        check_status=${rest%%|*}
        message=${rest#*|}
        # shellcheck disable=SC2059
        printf "${entry%%|*}" >"kept$i.xml"
        cp "kept$i.xml" "edit$i.xml"
        run format --lax -i "edit$i.xml"
        expect_status 1 "format -i of kept$i.xml"
        expect_err "edit$i.xml$message
" "format -i of kept$i.xml"
        expect_bytes "edit$i.xml" "kept$i.xml" "a refused file is left as it is"
        run compact --lax "kept$i.xml"
        expect_status 1 "compact of kept$i.xml"
        expect_out "" "compact of kept$i.xml writes nothing"
        run check --lax "kept$i.xml"
        expect_status "$check_status" "check of kept$i.xml"
    done
    # Condensing trims each text, so a CDATA section that stands between texts
    # would run into its neighbours: format --condense refuses, and says where.
    printf '<r>\n  some text\n  <![CDATA[more]]>\n  text\n</r>\n' >seams.xml
    cp seams.xml edit-seams.xml
    run format --condense -i edit-seams.xml
    expect_status 1 "format --condense of text that would read otherwise"
    expect_err 'edit-seams.xml:1:4: error: the written form would read differently here: text "some text more text" would read as text "some textmoretext"; nothing written
' "the first difference, where it begins"
    expect_bytes edit-seams.xml seams.xml "a refused file is left as it is"
    run --stdin seams.xml format --condense
    expect_status 1 "the same from standard input"
    expect_err '<stdin>:1:4: error: the written form would read differently here: text "some text more text" would read as text "some textmoretext"; nothing written
' "standard input is kept to say where"
    run format -i edit-seams.xml
    expect_status 0 "by default the text is written as it stands"
    expect_bytes edit-seams.xml seams.xml "as it stands"
    expect_no_temporaries "refusals"
}

# Text is written as it stands unless --condense; --keep-whitespace is still
# taken, and changes nothing.
case_keep_whitespace() {
    printf '<a>  x \t  y  </a>' >ws.xml
    run format ws.xml
    expect_status 0 "text kept by default"
    expect_out '<a>  x 	  y  </a>
' "text kept as it stands, leading white space included"
    run format --keep-whitespace ws.xml
    expect_out '<a>  x 	  y  </a>
' "--keep-whitespace is the default"
    run compact ws.xml --condense
    expect_out '<a>x y</a>
' "options may follow the file"
    run check --condense ws.xml
    expect_status 2 "check writes nothing to condense"
    # Inline markup of a picture, whose text spaces and line breaks would change.
    printf '<svg><text>Re<tspan>qu</tspan><tspan>ests</tspan></text><text><tspan> </tspan></text></svg>' >pic.svg
    run format pic.svg
    expect_out '<svg>
    <text>Re<tspan>qu</tspan><tspan>ests</tspan></text>
    <text>
        <tspan> </tspan>
    </text>
</svg>
' "every text of a picture stays"
}

# Indentation goes only between the children of elements that hold no text;
# mixed content is written as it stands. --condense gives the library's own
# pretty form.
case_keep_whitespace_mixed() {
    cat >mixed.xml <<'XML'
<doc>
  <p>  Some <b>bold</b> and <i> italic </i> text.  </p>
  <list><item>1</item>
     <item>2</item></list>
  <pre>
    line 1
      line 2
  </pre>
</doc>
XML
    run format mixed.xml
    expect_status 0 "mixed content"
    expect_out '<doc>
    <p>  Some <b>bold</b> and <i> italic </i> text.  </p>
    <list>
        <item>1</item>
        <item>2</item>
    </list>
    <pre>
    line 1
      line 2
  </pre>
</doc>
' "text unchanged, indentation between elements only"
    run format --condense mixed.xml
    expect_status 0 "mixed content, text condensed"
    expect_out '<doc>
    <p>Some
        <b>bold</b>and
        <i>italic</i>text.
    </p>
    <list>
        <item>1</item>
        <item>2</item>
    </list>
    <pre>line 1 line 2</pre>
</doc>
' "the library's pretty form"
}

# Strict reading: check and format refuse a document at its first violation
# of XML, and say where and which rule; the lenient grammar takes some of them.
# Each row: a printf format for the file, then check's message after the file
# name.
case_strict_reading() {
    local -a broken=(
        '<doc></DOC>|:1:6: error: end tag does not match its start tag.'
        '<a b=c/>|:1:6: error: attribute value not quoted.'
        "<a b='<'/>|:1:7: error: '<' in an attribute value."
        "<!-- a -- b --><a/>|:1:8: error: '--' inside a comment."
        "<doc>]]></doc>|:1:6: error: ']]>' in character data."
        "<doc>&#RE;</doc>|:1:6: error: '&' not starting a complete reference."
        '<doc>&foo;</doc>|:1:6: error: undeclared entity.'
        '<doc>a\fb</doc>|:1:7: error: character U+000C is not allowed in XML'
        '<?xml VERSION="1.0"?><a/>|:1:7: error: XML declaration malformed (version first, then encoding, then standalone).'
        '<?xml version="1.0" standalone="yes" encoding="UTF-8"?><a/>|:1:38: error: XML declaration malformed (version first, then encoding, then standalone).'
        '<0A/>|:1:2: error: not a well-formed XML name.'
        '<doc><![CDATA [x]]></doc>|:1:6: error: markup of no kind XML knows.'
        '<a/><?xml version="1.0"?>|:1:5: error: XML declaration or DOCTYPE out of place.'
        '<a/>\n<!DOCTYPE a>|:2:1: error: XML declaration or DOCTYPE out of place.'
    )
    local entry i=0
    for entry in "${broken[@]}"; do
        i=$((i + 1))
        # shellcheck disable=SC2059
        printf "${entry%%|*}" >"strict$i.xml"
        run check "strict$i.xml"
        expect_status 1 "check of strict$i.xml: ${entry%%|*}"
        expect_err "strict$i.xml${entry#*|}
" "check of strict$i.xml"
        run format "strict$i.xml"
        expect_status 1 "format of strict$i.xml"
        expect_out "" "format of strict$i.xml writes nothing"
    done
    printf '<doc></DOC>' >case.xml
    run check --lax case.xml
    expect_status 0 "the lenient grammar matches end tags in any case"
    printf '<:a/>' >colon.xml
    run check colon.xml
    expect_status 0 "a name may start with ':'"
    # An encoding other than UTF-8 is converted before the library reads the
    # text; its name must still stand where XML places it.
    printf '<?xml version="1.0" encoding="ISO-8859-1"?><a>\351</a>' >latin1.xml
    run check latin1.xml
    expect_status 0 "a converted encoding"
    printf '<?xml encoding="ISO-8859-1" version="1.0"?><a>\351</a>' >latin1-misplaced.xml
    run check latin1-misplaced.xml
    expect_status 1 "the encoding before the version"
    expect_err 'latin1-misplaced.xml:1:7: error: XML declaration malformed (version first, then encoding, then standalone).
' "the encoding before the version"
    local name
    for name in ISO_8859-1:1987 850; do
        printf '<?xml version="1.0" encoding="%s"?><a>\202</a>' "$name" >odd-name.xml
        run check odd-name.xml
        expect_status 1 "an encoding iconv knows by a name XML does not allow: $name"
        expect_err 'odd-name.xml:1:31: error: XML declaration malformed (version first, then encoding, then standalone).
' "an encoding iconv knows by a name XML does not allow: $name"
    done
}

# The internal DTD subset: its declarations checked, the entities it declares
# expanded, and external entities refused.
case_strict_dtd() {
    printf '<!DOCTYPE r [<!ENTITY e "x &amp; y">]>\n<r a="&e;">&e;</r>\n' >entity.xml
    local -a broken=(
        '<!DOCTYPE d [<!ENTITY foo PUBLIC "x">]><d/>|:1:37: error: markup declaration not well formed.'
        '<!DOCTYPE r [<!ENTITY e SYSTEM "e.xml">]><r>&e;</r>|:1:45: error: reference to an external entity.'
    )
    local entry i=0
    for entry in "${broken[@]}"; do
        i=$((i + 1))
        # shellcheck disable=SC2059
        printf "${entry%%|*}" >"dtd$i.xml"
        run check "dtd$i.xml"
        expect_status 1 "check of dtd$i.xml: ${entry%%|*}"
        # shellcheck disable=SC2053
        [[ "$err" == "dtd$i.xml"${entry#*|}$'\n' ]] ||
            fail "check of dtd$i.xml: stderr [$err], expected [dtd$i.xml${entry#*|}]"
    done
    # Entities declared in the internal subset are expanded, and written so.
    run format entity.xml
    expect_status 0 "a declared entity is expanded"
    expect_out '<!DOCTYPE r [<!ENTITY e "x &amp; y">]>
<r a="x &amp; y">x &amp; y</r>
' "its replacement text written in its place"
    run format --lax entity.xml
    expect_status 0 "expanded in the lenient reading too"
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

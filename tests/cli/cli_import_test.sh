#!/usr/bin/env bash
# quillmark-cli import, import-contacts and extract end to end: the groups printed are the groups
# on disk with the lines expected, a second import in the same second never overwrites the first,
# and extract prints the addresses of a sheet written by an independent writer.
set -u
CLI=$1
FIX=$2
W=$(mktemp -d); trap 'rm -rf "$W"' EXIT
export QUILLMARK_CONFIG="$W/cfg/settings.ini" QUILLMARK_HOME="$W/home"
G="$W/home/GroupRecipients"
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

printf 'a@x.com\r\nb@x.com\r\na@x.com\r\nbad\r\n' > "$W/list.txt"
out=$("$CLI" import "$W/list.txt" 2>"$W/err"); rc=$?
[ $rc = 0 ] || fail "import rc=$rc $(cat "$W/err")"
[ "$(cat "$W/err")" = "File has been imported successfully." ] || fail "import message: $(cat "$W/err")"
name=${out%%$'\t'*}
[ "${out#*$'\t'}" = "2" ] || fail "import count: [$out]"
[ "$(cat "$G/_$name.sbz")" = "$(printf 'a@x.com,,,,,,,,,,,,,E\r\nb@x.com,,,,,,,,,,,,,E\r')" ] || fail "import content"

# Twice more at once: three groups in the end, none overwritten.
"$CLI" import "$W/list.txt" >/dev/null 2>&1 & "$CLI" import "$W/list.txt" >/dev/null 2>&1; wait
[ "$(ls "$G" | wc -l)" = 3 ] || fail "parallel imports: $(ls "$G")"

printf 'Smith, John;john@x.com\r\n' > "$W/names.txt"
out=$("$CLI" import "$W/names.txt" --names --delimiter semicolon 2>/dev/null) || fail "names rc"
[ "$(cat "$G/_${out%%$'\t'*}.sbz")" = "$(printf 'john@x.com,Smith\xb8 John,,,,,,,,,,,,E\r')" ] || fail "names content"

mkdir -p "$W/dir/sub"; printf 'd@x.com\n' > "$W/dir/one.csv"; printf 'e@x.com\n' > "$W/dir/sub/two.txt"
[ "$("$CLI" import "$W/dir" 2>/dev/null | wc -l)" = 1 ] || fail "folder without sub-folders"
[ "$("$CLI" import "$W/dir" --recursive 2>/dev/null | wc -l)" = 2 ] || fail "folder with sub-folders"
"$CLI" import "$W/missing.txt" >/dev/null 2>&1; [ $? = 1 ] || fail "missing source rc"
# A contacts export with a header row in the one-address-per-line mode: nothing taken, no group.
printf 'First Name,Last Name,E-mail Address\r\nAnn,Lee,ann@x.com\r\n' > "$W/contacts.csv"
before=$(ls "$G" | wc -l)
out=$("$CLI" import "$W/contacts.csv" 2>"$W/err"); rc=$?
[ $rc = 1 ] && [ -z "$out" ] || fail "nothing found rc=$rc [$out]"
[ "$(cat "$W/err")" = "No e-mail address was found in $W/contacts.csv." ] || fail "nothing found message: $(cat "$W/err")"
[ "$(ls "$G" | wc -l)" = "$before" ] || fail "nothing found made a group"

out=$("$CLI" import-contacts "$FIX/handwritten.vcf" 2>"$W/err") || fail "contacts rc $(cat "$W/err")"
case $out in Contacts*$'\t'2) ;; *) fail "contacts output [$out]" ;; esac
grep -q '^pat@example.net,Pat O' "$G/_${out%%$'\t'*}.sbz" || fail "contacts content"

out=$("$CLI" extract "$FIX/people.ods" --sheet People 2>/dev/null)
[ "$out" = "$(printf 'ann.lee@example.com\nzoe@example.org\nbob@example.com\nlast@example.net')" ] || fail "extract [$out]"
# Without --sheet and without a "Sheet1", the first sheet.
[ "$("$CLI" extract "$FIX/people.xls" 2>/dev/null)" = "$out" ] || fail "extract first sheet"
"$CLI" extract "$FIX/people.xls" --sheet Sheet1 >/dev/null 2>"$W/err"
[ $? = 1 ] && grep -q "Sheet1" "$W/err" || fail "extract missing sheet: $(cat "$W/err")"
out=$("$CLI" extract "$FIX/people.xlsx" --sheet Other 2>/dev/null)
[ "$out" = "only@other.example" ] || fail "extract other sheet [$out]"

[ $failures = 0 ] && echo "cli import: all passed"
exit $failures

#!/usr/bin/env bash
# quillmark-cli eml extract: messages written by Python's email package; the default folder
# (EmlOutput) is emptied of the previous import, a folder given with --out must be missing or
# empty, and a hostile file name stays inside the folder.
set -u
CLI=$1
SRC=$(cd "$(dirname "$0")/.." && pwd)
W=$(mktemp -d); trap 'rm -rf "$W"' EXIT
export QUILLMARK_CONFIG="$W/cfg/settings.ini" QUILLMARK_HOME="$W/home"
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
/usr/bin/python3 "$SRC/message/write_eml.py" "$W" || fail "fixtures"
E="$W/home/EmlOutput"

out=$("$CLI" eml extract "$W/html_inline.eml" 2>&1); rc=$?
want="body: html
body file: $E/body.html
file: logo.png
file: report.pdf"
[ "$rc" = 0 ] && [ "$out" = "$want" ] || fail "html: rc=$rc out=[$out]"
grep -q '<img src="logo.png"' "$E/body.html" || fail "cid rewrite: $(cat "$E/body.html")"

out=$("$CLI" eml extract "$W/latin1_qp.eml" 2>&1); rc=$?
[ "$rc" = 0 ] && [ "$(head -1 <<<"$out")" = "body: text" ] || fail "text: rc=$rc out=[$out]"
[ "$(ls "$E")" = "body.txt" ] || fail "previous import left: $(ls "$E")"
[ "$(cat "$E/body.txt")" = "Grüße aus Köln, à bientôt." ] || fail "latin1 body: $(cat "$E/body.txt")"

mkdir -p "$W/busy"; echo keep > "$W/busy/mine.txt"
"$CLI" eml extract "$W/nested.eml" --out "$W/busy" >/dev/null 2>"$W/err"; rc=$?
[ "$rc" = 1 ] && [ "$(cat "$W/busy/mine.txt")" = keep ] || fail "non-empty --out: rc=$rc $(cat "$W/err")"

printf 'Content-Type: multipart/mixed; boundary=B\r\n\r\n--B\r\nContent-Type: text/plain\r\n\r\nhi\r\n--B\r\nContent-Type: image/png\r\nContent-Disposition: attachment; filename="../../escaped"\r\n\r\nx\r\n--B--\r\n' > "$W/hostile.eml"
out=$("$CLI" eml extract "$W/hostile.eml" --out "$W/new out" 2>&1); rc=$?
[ "$rc" = 0 ] && [ -f "$W/new out/escaped" ] && [ ! -e "$W/escaped" ] || fail "hostile: rc=$rc out=[$out]"

[ "$failures" = 0 ] && echo "all passed"
exit $((failures > 0))

#!/usr/bin/env bash
# quillmark-cli spam-check against the real SpamAssassin, in a program folder whose name holds a
# blank and a quote: a spammy message exits 1 with the score line and rule rows, an ordinary one
# exits 0 with "Message is not Spam.", a missing analyser exits 3 and says how to install it.
set -u
CLI=$1
W=$(mktemp -d); trap 'rm -rf "$W"' EXIT
export QUILLMARK_CONFIG="$W/cfg/settings.ini" QUILLMARK_HOME="$W/Alice's mail" HOME="$W"
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

printf 'Dear friend,\nYou have WON $1,000,000 CASH. 100%% FREE, act now! Click here to claim your prize.\n' > "$W/spam.txt"
printf 'Hello Bob,\n\nhere are my notes from Tuesday; the review moves to the 14th.\n\nAlice\n' > "$W/plain.txt"
msg=(--from-name "Alice Martin" --from alice.martin@example.org)

out=$("$CLI" spam-check "${msg[@]}" --subject 'FREE MONEY!!! YOU HAVE WON $1,000,000' --text "$W/spam.txt" 2>"$W/err"); rc=$?
[ "$rc" = 1 ] || fail "spammy: rc=$rc stderr=$(cat "$W/err")"
head -1 <<<"$out" | grep -Eq '^Content analysis details: Your spam score is : [0-9.]+ points\.$' || fail "score line: $out"
grep -q '^pts ' <<<"$out" || fail "column title row: $out"
grep -q 'SUBJ_ALL_CAPS' <<<"$out" || fail "rule rows: $out"
left=$(find "$QUILLMARK_HOME/ProgramData/QMK" -name 'SpamCheck.*' -o -name Message.txt -o -name output.txt)
[ -z "$left" ] || fail "a check left its files: $left"

out=$("$CLI" spam-check "${msg[@]}" --subject "Notes from Tuesday" --text "$W/plain.txt" 2>"$W/err"); rc=$?
[ "$rc" = 0 ] && [ "$out" = "Message is not Spam." ] || fail "ordinary: rc=$rc out=[$out] stderr=$(cat "$W/err")"

out=$(PATH=/nonexistent "$CLI" spam-check "${msg[@]}" --subject "Notes" --text "$W/plain.txt" 2>"$W/err"); rc=$?
[ "$rc" = 3 ] && grep -q 'apt-get install spamassassin' "$W/err" || fail "missing analyser: rc=$rc stderr=$(cat "$W/err")"

"$CLI" spam-check "${msg[@]}" --subject "x" >/dev/null 2>&1; rc=$?
[ "$rc" = 2 ] || fail "no body: rc=$rc"

[ "$failures" = 0 ] && echo "all passed"
exit $((failures > 0))

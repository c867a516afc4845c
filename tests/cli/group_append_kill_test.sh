#!/usr/bin/env bash
# quillmark-cli groups paste of many lines into a group whose file ends without a line end, killed
# (kill -9) at random moments, again and again. After each kill the file must hold its old bytes
# unchanged, followed by nothing or by the line end and a leading part of the pasted lines; the
# next groups add must then keep every whole line and add its recipient as a line of its own.
# Kills are spread over the time one whole paste takes here and a little beyond.
# Usage: group_append_kill_test.sh QUILLMARK_CLI [KILLS [LINES]]
set -u
CLI=$1 KILLS=${2:-30} COUNT=${3:-20000}
W=$(mktemp -d); trap 'rm -rf "$W"' EXIT
export QUILLMARK_CONFIG="$W/cfg/settings.ini" QUILLMARK_HOME="$W/home"
G="$W/home/GroupRecipients"
failures=0
failure() { echo "FAIL $*"; failures=$((failures + 1)); }
now_ms() { echo $(($(date +%s%N) / 1000000)); }

"$CLI" paths >/dev/null || { echo "FAIL cli paths"; exit 1; }
"$CLI" groups create G >/dev/null || { echo "FAIL create"; exit 1; }
OLD='first@x.com,First,,,,,,,,,,,,E'   # written by another tool: no final line end
for i in $(seq 1 "$COUNT"); do printf 'p%d@x.com,,,,,,,,,,,,,E\r\n' "$i"; done > "$W/clip.txt"
printf '%s\r\n' "$OLD" > "$W/head.txt"   # what the file starts with once the paste has begun
oldsize=${#OLD} headsize=$((${#OLD} + 2))

reset() { printf '%s' "$OLD" > "$G/_G.sbz"; }

# One whole paste: its time, and the file it leaves.
reset
t0=$(now_ms)
"$CLI" groups paste G < "$W/clip.txt" >/dev/null || { echo "FAIL whole paste"; exit 1; }
whole=$(($(now_ms) - t0))
cat "$W/head.txt" "$W/clip.txt" | cmp -s - "$G/_G.sbz" || { echo "FAIL whole paste: wrong file"; exit 1; }

untouched=0 partial=0 complete=0
for k in $(seq 1 "$KILLS"); do
  reset
  "$CLI" groups paste G < "$W/clip.txt" >/dev/null 2>&1 &
  pid=$!
  delay=$((RANDOM % (whole + whole / 10 + 1)))
  sleep "$((delay / 1000)).$(printf %03d $((delay % 1000)))"
  kill -9 "$pid" 2>/dev/null
  { wait "$pid"; } 2>/dev/null

  size=$(stat -c %s "$G/_G.sbz")
  if [ "$size" = "$oldsize" ]; then
    cmp -s <(printf '%s' "$OLD") "$G/_G.sbz" || { failure "kill $k: old bytes changed"; break; }
    untouched=$((untouched + 1))
  else
    # The old line, its new line end, then a leading part of the pasted text.
    cat "$W/head.txt" "$W/clip.txt" | head -c "$size" | cmp -s - "$G/_G.sbz" ||
      { failure "kill $k after ${delay} ms: the file is not the old one plus part of the paste"; break; }
    if [ "$size" = $((headsize + $(stat -c %s "$W/clip.txt"))) ]; then
      complete=$((complete + 1))
    else
      partial=$((partial + 1))
    fi
  fi
  before=$(tr -cd '\n' < "$G/_G.sbz" | wc -c)   # whole lines before the next add

  # The next add: every whole line stays, and the new recipient is a line of its own.
  "$CLI" groups add G --email "new$k@x.com" >/dev/null || { failure "kill $k: the next add failed"; break; }
  "$CLI" groups show G > "$W/show.txt" || { failure "kill $k: show failed"; break; }
  grep -qx "first@x.com,First,,,,,,,,,,,,E" "$W/show.txt" || { failure "kill $k: first recipient lost"; break; }
  grep -qx "new$k@x.com,,,,,,,,,,,,,E" "$W/show.txt" || { failure "kill $k: new recipient lost"; break; }
  [ "$(wc -l < "$W/show.txt")" -ge $((before + 1)) ] || { failure "kill $k: whole lines lost"; break; }
done

echo "one paste of $COUNT lines: ${whole} ms; $KILLS kills: the file untouched $untouched times," \
     "part of the paste $partial times, all of it $complete times"
[ "$failures" = 0 ] && echo "all kill checks passed"
exit "$failures"

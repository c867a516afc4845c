#!/usr/bin/env bash
# quillmark-cli settings set on a large settings file, killed (kill -9) at random moments, again
# and again, each time switching one value between two texts. After each kill the file must be,
# byte for byte, the whole file with the old text or the whole file with the new one (every other
# setting kept), and the next start must read that text. The kill moment is random; what is checked
# holds wherever it lands (before, during or after the rewrite), so the machine's speed decides
# only how the kills are spread over the outcomes counted at the end.
# Usage: settings_kill_test.sh QUILLMARK_CLI [KILLS [SUBKEYS]]
set -u
CLI=$1 KILLS=${2:-40} COUNT=${3:-3000}
W=$(mktemp -d); trap 'rm -rf "$W"' EXIT
export QUILLMARK_CONFIG="$W/cfg/settings.ini" QUILLMARK_HOME="$W/home"
S=$QUILLMARK_CONFIG
failures=0
failure() { echo "FAIL $*"; failures=$((failures + 1)); }
now_ms() { echo $(($(date +%s%N) / 1000000)); }

mkdir -p "$W/cfg"
# Many settings written by hand: the rewrite has a lot to read and write.
pad=$(printf '%0190d' 0)
for i in $(seq 1 "$COUNT"); do printf '[Big%05d]\nValue=%s%d\n' "$i" "$pad" "$i"; done > "$S"

# The two whole files, and the time one whole rewrite takes.
declare -A bytes
whole=0
for v in Old New; do
  t0=$(now_ms)
  "$CLI" settings set SmtpServer Server "$v.example.com" >/dev/null || { echo "FAIL set $v"; exit 1; }
  t=$(($(now_ms) - t0)); [ "$t" -gt "$whole" ] && whole=$t
  cp "$S" "$W/$v.ini"
done
cmp -s "$W/Old.ini" "$W/New.ini" && { echo "FAIL the two files look alike"; exit 1; }
grep -q "^\[Big$(printf %05d "$COUNT")\]" "$W/New.ini" || { echo "FAIL hand-written settings lost"; exit 1; }

current=New kept=0 switched=0
for k in $(seq 1 "$KILLS"); do
  target=Old; [ "$current" = Old ] && target=New
  "$CLI" settings set SmtpServer Server "$target.example.com" >/dev/null 2>&1 &
  pid=$!
  delay=$((RANDOM % (whole + whole / 10 + 1)))
  sleep "$((delay / 1000)).$(printf %03d $((delay % 1000)))"
  kill -9 "$pid" 2>/dev/null
  { wait "$pid"; } 2>/dev/null

  if cmp -s "$S" "$W/$current.ini"; then
    kept=$((kept + 1))
  elif cmp -s "$S" "$W/$target.ini"; then
    switched=$((switched + 1)); current=$target
  else
    failure "kill $k after ${delay} ms: the settings file is neither whole file ($(stat -c %s "$S") bytes)"
    break
  fi
  got=$("$CLI" settings get SmtpServer Server) || { failure "kill $k: get failed"; break; }
  [ "$got" = "$current.example.com" ] || { failure "kill $k: read '$got', the file holds $current"; break; }
  [ "$("$CLI" settings get Big00001 Value)" = "${pad}1" ] || { failure "kill $k: other settings lost"; break; }
done

echo "one rewrite of $COUNT subkeys: ${whole} ms; $k kills: the old file stood $kept times," \
     "the new one $switched times"
[ "$failures" = 0 ] && echo "all kill checks passed"
exit "$failures"

#!/usr/bin/env bash
# An append-only store written line after line by the program's own writer, killed (kill -9) at
# random moments, again and again: the unsubscriber store of a group, or the scheduler status file.
# Each round starts from the first half of the whole file. After each kill the file must be that
# old half followed by whole lines of the rest, in order (nothing torn, nothing lost, nothing
# rewritten); the program must read it as those lines (status: `schedule status` shows exactly
# those rows); and the next run must go on from there to the whole file, byte for byte (no line
# twice, none glued to another). The kill moment is random; what is checked holds wherever it
# lands, so the machine's speed decides only how the kills are spread over the outcomes counted.
# Usage: store_append_kill_test.sh WRITER QUILLMARK_CLI unsubscribers|status [KILLS [COUNT]]
set -u
WRITER=$1 CLI=$2 STORE=$3 KILLS=${4:-30} COUNT=${5:-1000}
W=$(mktemp -d); trap 'rm -rf "$W"' EXIT
export QUILLMARK_CONFIG="$W/cfg/settings.ini" QUILLMARK_HOME="$W/home"
case $STORE in
  unsubscribers) F="$W/home/GroupUnsubscribers/_G.sbz" ;;
  status) F="$W/home/ProgramData/QMK/Scheduler_Status.txt" ;;
  *) echo "FAIL unknown store $STORE"; exit 2 ;;
esac
failures=0
failure() { echo "FAIL $*"; failures=$((failures + 1)); }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
# Lines end in CR LF; a status field may hold a lone LF (the mark of a field holding the separator).
lines() { LC_ALL=C grep -c $'\r$' "$1"; }
ends_whole() { [ ! -s "$1" ] || [ "$(tail -c 2 "$1" | od -An -c | tr -d ' ')" = '\r\n' ]; }
# What the program shows of the file: the status rows (the unsubscriber store is read by the next
# run, which must skip every address it holds).
shown() { [ "$STORE" = status ] && "$CLI" schedule status; }

"$CLI" paths >/dev/null || { echo "FAIL cli paths"; exit 1; }
"$WRITER" "$STORE" "$W/home" "$COUNT" || { echo "FAIL whole run"; exit 1; }
cp "$F" "$W/whole"
[ "$(lines "$W/whole")" = "$COUNT" ] || { echo "FAIL the whole run wrote $(lines "$W/whole") lines"; exit 1; }
shown > "$W/whole.shown"
base=$((COUNT / 2))
cr=$(LC_ALL=C grep -a -b -o $'\r$' "$W/whole" | sed -n "${base}p" | cut -d: -f1)
head -c $((cr + 2)) "$W/whole" > "$W/old"
oldsize=$(stat -c %s "$W/old")
reset() { cp "$W/old" "$F"; }

# The time the second half takes here.
reset
t0=$(now_ms)
"$WRITER" "$STORE" "$W/home" "$COUNT" || { echo "FAIL second half"; exit 1; }
whole=$(($(now_ms) - t0))
cmp -s "$F" "$W/whole" || { echo "FAIL the second half did not give the whole file"; exit 1; }

untouched=0 partial=0 complete=0
for k in $(seq 1 "$KILLS"); do
  reset
  "$WRITER" "$STORE" "$W/home" "$COUNT" 2>/dev/null &
  pid=$!
  delay=$((RANDOM % (whole + whole / 10 + 1)))
  sleep "$((delay / 1000)).$(printf %03d $((delay % 1000)))"
  kill -9 "$pid" 2>/dev/null
  { wait "$pid"; } 2>/dev/null

  n=$(lines "$F") size=$(stat -c %s "$F")
  if [ "$size" -lt "$oldsize" ] || ! ends_whole "$F" || ! head -c "$size" "$W/whole" | cmp -s - "$F"; then
    failure "kill $k after ${delay} ms: the file is not the old lines and whole new ones" \
            "($size bytes, $n line ends)"
    break
  fi
  if [ "$n" = "$base" ]; then untouched=$((untouched + 1))
  elif [ "$n" = "$COUNT" ]; then complete=$((complete + 1))
  else partial=$((partial + 1)); fi
  if [ "$STORE" = status ] && ! shown | cmp -s - <(head -n $((n + 1)) "$W/whole.shown"); then
    failure "kill $k: schedule status does not show the $n rows of the file"
    break
  fi

  "$WRITER" "$STORE" "$W/home" "$COUNT" || { failure "kill $k: the next run failed"; break; }
  cmp -s "$F" "$W/whole" || { failure "kill $k: the next run did not go on to the whole file"; break; }
done

echo "$STORE: the second half of $COUNT lines: ${whole} ms; $k kills: nothing appended $untouched" \
     "times, part $partial times, all $complete times"
[ "$failures" = 0 ] && echo "all kill checks passed"
exit "$failures"

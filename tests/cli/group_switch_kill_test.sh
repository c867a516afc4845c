#!/usr/bin/env bash
# quillmark-cli groups open-list of a large list, killed (kill -9) at random moments, again and
# again. After each kill the next start of quillmark-cli, whatever its command, must leave exactly
# the old set of groups or exactly the new one, a file that is not a group where it was, and no
# sibling folder of GroupRecipients. Kills are spread over the time one whole open takes here and a
# little beyond, so that some opens finish.
# Usage: group_switch_kill_test.sh QUILLMARK_CLI [KILLS [GROUPS]]
set -u
CLI=$1 KILLS=${2:-40} COUNT=${3:-100}
W=$(mktemp -d); trap 'rm -rf "$W"' EXIT
export QUILLMARK_CONFIG="$W/cfg/settings.ini" QUILLMARK_HOME="$W/home"
G="$W/home/GroupRecipients"
failures=0
failure() { echo "FAIL $*"; failures=$((failures + 1)); }

# Names, kinds and sizes of everything in the group folder, then the files' bytes in name order.
fingerprint() {
  { find "$G" -mindepth 1 -printf '%P %y %s\n' | LC_ALL=C sort; cat "$G"/*; } | md5sum
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }

"$CLI" paths >/dev/null || { echo "FAIL cli paths"; exit 1; }
printf 'not a group\n' > "$G/notes.txt"
for set in Old New; do
  rm -f "$G"/*.sbz
  for i in $(seq 1 "$COUNT"); do
    printf '%s%d@x.com,%s %d,,,,,,,,,,,,E\r\nextra%d@x.com,,,,,,,,,,,,,D\r\n' \
      "$set" "$i" "$set" "$i" "$i" > "$G/_$set$i.sbz"
  done
  "$CLI" groups save-list "$W/$set" >/dev/null || { echo "FAIL save-list $set"; exit 1; }
done

# One whole open each way: the two fingerprints and the longest time.
declare -A fp
whole=0
for set in Old New; do
  t0=$(now_ms)
  "$CLI" groups open-list "$W/$set.hvt" >/dev/null || { echo "FAIL open-list $set"; exit 1; }
  t=$(($(now_ms) - t0)); [ "$t" -gt "$whole" ] && whole=$t
  fp[$set]=$(fingerprint)
done
[ "${fp[Old]}" != "${fp[New]}" ] || { echo "FAIL the two sets look alike"; exit 1; }

# First a kill at each step of the switch (the program kills itself there, so the kill lands
# inside the switch whatever the machine's speed): the old set stands until the new one is in
# place, then the new one does.
current=New
for step in staging-made staged new-in-place; do
  target=Old; [ "$current" = Old ] && target=New
  QUILLMARK_SWITCH_KILL_STEP=$step "$CLI" groups open-list "$W/$target.hvt" >/dev/null 2>&1
  rc=$?
  [ "$rc" = 137 ] || failure "kill at $step: the open ended with $rc, not at the step"
  compgen -G "$G.*" >/dev/null || failure "kill at $step: no sibling left inside the switch"
  "$CLI" paths >/dev/null
  want=$current; [ "$step" = new-in-place ] && want=$target
  [ "$(fingerprint)" = "${fp[$want]}" ] || failure "kill at $step: the group folder is not the $want set"
  current=$want
  compgen -G "$G.*" >/dev/null && failure "kill at $step: leftovers $(compgen -G "$G.*")"
done

# Then kills at random moments, spread over one open's time, for the moments in between. How
# many land inside a switch depends on the machine; the kills at the steps made sure some did.
kept=0 switched=0 interrupted=0 k=0
while [ "$k" -lt "$KILLS" ]; do
  k=$((k + 1))
  target=Old; [ "$current" = Old ] && target=New
  "$CLI" groups open-list "$W/$target.hvt" >/dev/null 2>&1 &
  pid=$!
  delay=$((RANDOM % (whole + whole / 10 + 1)))
  sleep "$((delay / 1000)).$(printf %03d $((delay % 1000)))"
  kill -9 "$pid" 2>/dev/null
  { wait "$pid"; } 2>/dev/null
  compgen -G "$G.*" >/dev/null && interrupted=$((interrupted + 1))

  # The next start: any command settles what the kill left.
  if [ $((k % 2)) = 0 ]; then "$CLI" paths >/dev/null; else "$CLI" groups list >/dev/null; fi
  now=$(fingerprint)
  if [ "$now" = "${fp[$current]}" ]; then
    kept=$((kept + 1))
  elif [ "$now" = "${fp[$target]}" ]; then
    switched=$((switched + 1)); current=$target
  else
    failure "kill $k after ${delay} ms: the group folder holds neither whole set"
    ls "$G" | head -5
    break
  fi
  if compgen -G "$G.*" >/dev/null; then
    failure "kill $k after ${delay} ms: leftovers $(compgen -G "$G.*")"
    break
  fi
done

echo "one open of $COUNT groups: ${whole} ms; $k kills, $interrupted in the middle of a switch;" \
     "the old set stood $kept times, the new one $switched times"
[ "$failures" = 0 ] && echo "all kill checks passed"
exit "$failures"

#!/usr/bin/env bash
# quillmark-cli template generate: every design with its defaults makes a page that html.parser
# reads as balanced, whose every picture lies in Images beside it and is listed in the header;
# the wizard's checks end the command with their message; a target that cannot be written fails.
set -u
CLI=$1
HERE=$(cd "$(dirname "$0")" && pwd)
W=$(mktemp -d); trap 'rm -rf "$W"' EXIT
export QUILLMARK_CONFIG="$W/cfg/settings.ini" QUILLMARK_HOME="$W/home"
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

for d in 1 2 3 4 5 6 7 8; do
  out=$("$CLI" template generate --design "$d" --out "$W/d$d/page" 2>"$W/err"); rc=$?
  page="$W/d$d/page.htm"
  [ "$rc" = 0 ] && [ -s "$page" ] && [ ! -s "$W/err" ] || { fail "design $d: rc=$rc $(cat "$W/err")"; continue; }
  /usr/bin/python3 "$HERE/check_template_page.py" "$page" || fail "design $d: page not well formed"
  listed=$(grep -c '^picture: ' <<<"$out")
  head -3 "$page" | grep -q "^<!---##$listed##--->"$'\r'"$" || fail "design $d: header count != $listed"
  while read -r p; do
    [ -f "$p" ] && [ "$(dirname "$p")" = "$W/d$d/Images" ] || fail "design $d: listed $p"
    grep -qF "Images/$(basename "$p")\"" "$page" || fail "design $d: $p listed but not used"
  done < <(sed -n 's/^picture: //p' <<<"$out")
done

# The same picture as image and logo is copied and listed once; ".HTM" gets a second extension.
cp "$W/d1/Images/img11.jpg" "$W/mine.jpg"
out=$("$CLI" template generate --design 2 --out "$W/same/Offer.HTM" --image "$W/mine.jpg" --logo "$W/mine.jpg" 2>&1); rc=$?
[ "$rc" = 0 ] && [ -f "$W/same/Offer.HTM.htm" ] || fail "same picture: rc=$rc [$out]"
[ "$(grep -c 'mine.jpg' <<<"$out")" = 1 ] || fail "same picture listed: [$out]"

check_refused() {  # name, want message, options...
  local name=$1 want=$2; shift 2
  out=$("$CLI" template generate --out "$W/refused/$name" "$@" 2>&1); rc=$?
  [ "$rc" = 1 ] && [ "$out" = "$want" ] || fail "$name: rc=$rc [$out]"
  [ ! -e "$W/refused/$name.htm" ] || fail "$name: a page was written"
}
check_refused seven "More than 6 highlights are not allowed." --design 1 \
  --highlight 1 --highlight 2 --highlight 3 --highlight 4 --highlight 5 --highlight 6 --highlight 7
check_refused quote "Link1 Address cannot contain <,>,\",',|." --design 1 --link1-address 'a.org/"x'
check_refused offer "Template Offer field cannot be empty" --design 6 --salutation " "
# A picture that cannot be read: named, exit 1, and no page left behind for a script to take.
out=$("$CLI" template generate --design 7 --out "$W/nologo/page" --logo "$W/none.gif" 2>&1 >/dev/null); rc=$?
[ "$rc" = 1 ] && [ "$out" = "Logo file specified does not exists.
No page was written." ] || fail "missing logo: rc=$rc [$out]"
[ ! -e "$W/nologo/page.htm" ] || fail "missing logo: a page was written"
"$CLI" template generate --design 1 --out "$W/d1/page.htm" \
  --highlight 1 --highlight 2 --highlight 3 --highlight 4 --highlight 5 --highlight 6 >/dev/null ||
  fail "six highlights refused"

touch "$W/blocker"
out=$("$CLI" template generate --design 1 --out "$W/blocker/page.htm" 2>&1); rc=$?
[ "$rc" = 1 ] && [ -n "$out" ] || fail "unwritable target: rc=$rc [$out]"

[ "$failures" = 0 ] && echo "all passed"
exit $((failures > 0))

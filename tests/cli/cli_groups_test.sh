#!/usr/bin/env bash
# quillmark-cli groups commands that change groups and recipients, end to end: exit codes (0 ok,
# 1 refused with the window's message on stderr, 2 usage), the group files they leave, export
# files, and a vCard export read back by an independent reader (python3-vobject).
set -u
CLI=$1
W=$(mktemp -d); trap 'rm -rf "$W"' EXIT
export QUILLMARK_CONFIG="$W/cfg/settings.ini" QUILLMARK_HOME="$W/home"
G="$W/home/GroupRecipients"
failures=0
check() {  # check NAME WANT_RC WANT_STDOUT WANT_STDERR -- command...  ("*" matches anything)
  local name=$1 want_rc=$2 want_out=$3 want_err=$4; shift 5
  local out rc
  out=$("$@" 2>"$W/stderr"); rc=$?
  if [ "$rc" != "$want_rc" ] || { [ "$want_out" != "*" ] && [ "$out" != "$want_out" ]; } ||
     { [ "$want_err" != "*" ] && [ "$(cat "$W/stderr")" != "$want_err" ]; }; then
    echo "FAIL $name: got rc=$rc out=[$out] stderr=[$(cat "$W/stderr")], want rc=$want_rc out=[$want_out] stderr=[$want_err]"
    failures=$((failures + 1))
  fi
}
file_is() {  # file_is NAME FILE WANT_BYTES (printf format)
  local want; want=$(printf "$3" | od -c); local got; got=$(od -c < "$2")
  [ "$got" = "$want" ] || { echo "FAIL $1: got"; od -c < "$2"; echo "want"; printf "$3" | od -c; failures=$((failures + 1)); }
}

check "create"            0 "" ""  -- "$CLI" groups create " Friends "
check "create same name"  1 "" "Group with same name already exists." -- "$CLI" groups create friends
check "create bad name"   1 "" "First character must be an alphabet." -- "$CLI" groups create 9lives
check "create bad chars"  1 "" 'Invalid charaters(\/?:*"<>|) detected.' -- "$CLI" groups create 'a|b'
check "create other"      0 "" ""  -- "$CLI" groups create Work
check "rename onto other" 1 "" "Cannot modify as a group with same name already exists." -- "$CLI" groups rename Work FRIENDS
check "rename"            0 "" ""  -- "$CLI" groups rename Work Office
check "delete"            0 "" ""  -- "$CLI" groups delete Office
check "delete missing"    1 "" "No group named 'Office' (see quillmark-cli groups list)" -- "$CLI" groups delete Office
check "list"              0 "Friends" "" -- "$CLI" groups list

check "add"               0 "" ""  -- "$CLI" groups add Friends --email ann.lee@my-shop.example --name Ann --company "Smith, Jones"
check "add other case"    0 "" ""  -- "$CLI" groups add Friends --email Ann.Lee@my-shop.example --name Annie
check "add duplicate"     1 "" "Email address entered already exists in the group." -- "$CLI" groups add Friends --email ann.lee@my-shop.example
check "add invalid"       1 "" "Email address entered is not valid." -- "$CLI" groups add Friends --email "a@b"
check "add bad name"      1 "" "Recipient's name can contain only alphabets." -- "$CLI" groups add Friends --email b@x.com --name "B2"
check "add short address" 1 "" "Address is too small. Do you wish to continue anyway? (add --yes to go on)" -- "$CLI" groups add Friends --email b@x.com --address1 "1 Road"
check "add short, --yes"  0 "" ""  -- "$CLI" groups add Friends --email b@x.com --address1 "1 Road" --yes
check "add to missing"    1 "" "No group named 'Nobody' (see quillmark-cli groups list)" -- "$CLI" groups add Nobody --email c@x.com
file_is "group file after adds" "$G/_Friends.sbz" 'ann.lee@my-shop.example,Ann,,,,Smith\270 Jones,,,,,,,,E\r\nAnn.Lee@my-shop.example,Annie,,,,,,,,,,,,E\r\nb@x.com,,,1 Road,,,,,,,,,,E\r\n'

check "disable"           0 "" ""  -- "$CLI" groups set-status Friends b@x.com disabled
check "status unknown"    1 "" "The recipient is not in the group." -- "$CLI" groups set-status Friends B@x.com disabled
check "status bad value"  2 "" "*" -- "$CLI" groups set-status Friends b@x.com paused
check "find domain with -" 0 "ann.lee@my-shop.example,Ann,,,,Smith$(printf '\270') Jones,,,,,,,,E
Ann.Lee@my-shop.example,Annie,,,,,,,,,,,,E" "" -- "$CLI" groups find Friends --by email --op domain MY-SHOP.EXAMPLE
check "find name starts"  0 "Ann.Lee@my-shop.example,Annie,,,,,,,,,,,,E" "" -- "$CLI" groups find Friends --by name --op ends NIE
check "find name with -"  1 "" "Invalid characters detected." -- "$CLI" groups find Friends --by name --op is Ann-Marie
check "find empty"        1 "" "Please enter a search expression." -- "$CLI" groups find Friends "  "
check "find bad op"       2 "" "*" -- "$CLI" groups find Friends --op like x
check "remove"            0 "" ""  -- "$CLI" groups remove Friends Ann.Lee@my-shop.example
file_is "group file after status and remove" "$G/_Friends.sbz" 'ann.lee@my-shop.example,Ann,,,,Smith\270 Jones,,,,,,,,E\r\nb@x.com,,,1 Road,,,,,,,,,,D\r\n'

printf 'b@x.com,Again,,,,,,,,,,,,E\r\nnot an address,,,,,,,,,,,,,E\r\nc@x.com,Caf\351,,1%%2A Quay,,,,,,,,,,U\r\n' > "$W/clip.txt"
check "paste" 0 "added 1, dropped 2" "Clipboard contained some duplicate or invalid recipients. They were automatically filtered." -- sh -c "\"$CLI\" groups paste Friends < \"$W/clip.txt\""

# A group file written by another tool, without its final line end: the add starts a line of its own.
check "create open"       0 "" ""  -- "$CLI" groups create Open
printf 'a@x.com,,,,,,,,,,,,,E' > "$G/_Open.sbz"
check "add after open end" 0 "" "" -- "$CLI" groups add Open --email b@x.com
check "show both"         0 "a@x.com,,,,,,,,,,,,,E
b@x.com,,,,,,,,,,,,,E" "" -- "$CLI" groups show Open
check "delete open"       0 "" ""  -- "$CLI" groups delete Open

check "export emails csv" 0 "Recipients has been successfully exported." "" -- "$CLI" groups export Friends "$W/e.csv"
file_is "emails csv" "$W/e.csv" 'Email Addresses\r\nann.lee@my-shop.example\r\nb@x.com\r\nc@x.com\r\n'
check "export names ;"    0 "*" "" -- "$CLI" groups export Friends "$W/n.txt" --mode names --separator semicolon
file_is "names semicolon" "$W/n.txt" 'Ann;ann.lee@my-shop.example\r\n;b@x.com\r\nCaf\351;c@x.com\r\n'
check "export all csv"    0 "*" "" -- "$CLI" groups export Friends "$W/a.csv" --mode all
file_is "all fields csv" "$W/a.csv" 'Name,Email,Telephone,Address1,Title,Company,Mobile Number,Fax Number,Address2,City,State,Zip Code,Country\r\nAnn,ann.lee@my-shop.example,,,,"Smith, Jones",,,,,,,\r\n,b@x.com,,1 Road,,,,,,,,,\r\nCaf\351,c@x.com,,"1, Quay",,,,,,,,,\r\n'
check "export unwritable" 1 "" "*" -- "$CLI" groups export Friends "$W/none/e.txt"
grep -q "^Failed to save data." "$W/stderr" || { echo "FAIL unwritable export message: $(cat "$W/stderr")"; failures=$((failures + 1)); }
[ ! -e "$W/none" ] || { echo "FAIL unwritable export made a folder"; failures=$((failures + 1)); }

# vCard: every field of a full recipient, a Windows-1252 name and a name long enough to fold.
check "full recipient" 0 "" "" -- "$CLI" groups add Friends --email full@x.com --name "Zoe Ann" --telephone 0123 \
  --address1 $'1, Main St\nFlat 2' --title Dr --company "Smith, Jones; Co" --mobile 0777 --fax 0999 \
  --address2 "Unit 5, Park" --city "Leeds, West" --state Yorks --zip 12345 --country "United Kingdom"
long=$(printf 'Ø%.0s' $(seq 1 50))
check "long name" 0 "" "" -- "$CLI" groups add Friends --email long@x.com --name "$long"
check "export vcard" 0 "Emails successfully exported to the address book." "" -- "$CLI" groups export Friends "$W/book.vcf" --mode vcard
py=
for p in python3 /usr/bin/python3; do "$p" -c "import vobject" 2>/dev/null && { py=$p; break; }; done
if [ -z "$py" ]; then
  echo "FAIL vcard read-back: python3-vobject is not installed (scripts/bootstrap installs it)"
  failures=$((failures + 1))
else
  LONG="$long" "$py" - "$W/book.vcf" <<'PY' || failures=$((failures + 1))
import os, sys, vobject
raw = open(sys.argv[1], "rb").read()
assert all(len(l) <= 75 for l in raw.split(b"\r\n")), "a line longer than 75 octets"
cards = {c.email.value: c for c in vobject.readComponents(raw.decode("utf-8"))}
want = {
    "ann.lee@my-shop.example": {"FN": "Ann", "ORG": ["Smith, Jones"]},
    "b@x.com": {"FN": "b@x.com", "ADR home": ("1 Road", "", "", "", "")},
    "c@x.com": {"FN": "Café", "ADR home": ("1, Quay", "", "", "", "")},
    "full@x.com": {"FN": "Zoe Ann", "TITLE": "Dr", "ORG": ["Smith, Jones; Co"],
                   "TEL home,voice": "0123", "TEL cell": "0777", "TEL work,fax": "0999",
                   "ADR home": ("1, Main St\nFlat 2", "Leeds, West", "Yorks", "12345", "United Kingdom"),
                   "ADR work": ("Unit 5, Park", "", "", "", "")},
    "long@x.com": {"FN": os.environ["LONG"]},
}
bad = 0
if set(cards) != set(want):
    print("FAIL vcard cards:", sorted(cards)); bad += 1
for email, fields in want.items():
    card = cards.get(email)
    if card is None:
        continue
    got = {}
    for ch in card.getChildren():
        types = ",".join(ch.params.get("TYPE", []))
        key = ch.name + (" " + types if types else "")
        if ch.name == "ADR":
            a = ch.value
            got[key] = (a.street, a.city, a.region, a.code, a.country)
        elif ch.name not in ("VERSION", "EMAIL"):
            got[key] = ch.value
    if card.version.value != "4.0":
        print("FAIL vcard version of", email); bad += 1
    if got != fields:
        print("FAIL vcard", email, "got", got, "want", fields); bad += 1
sys.exit(1 if bad else 0)
PY
fi

[ "$failures" = 0 ] && echo "all groups cli checks passed"
exit "$failures"

#!/usr/bin/env bash
# quillmark-cli end to end: exit codes (0 ok, 1 failure with the message on stderr, 2 usage),
# settings, paths, address and groups commands against a private settings file and program folder.
set -u
CLI=$1
W=$(mktemp -d); trap 'rm -rf "$W"' EXIT
export QUILLMARK_CONFIG="$W/cfg/settings.ini" QUILLMARK_HOME="$W/home"
failures=0
check() {  # check NAME WANT_RC WANT_STDOUT -- command...
  local name=$1 want_rc=$2 want_out=$3; shift 4
  local out rc
  out=$("$@" 2>"$W/stderr"); rc=$?
  if [ "$rc" != "$want_rc" ] || { [ "$want_out" != "*" ] && [ "$out" != "$want_out" ]; }; then
    echo "FAIL $name: got rc=$rc out=[$out] stderr=[$(cat "$W/stderr")], want rc=$want_rc out=[$want_out]"
    failures=$((failures + 1))
  fi
}

check "help"                 0 "*"   -- "$CLI" --help
check "subcommand help"      0 "*"   -- "$CLI" groups open-list --help
check "no command"           2 ""    -- "$CLI"
check "unknown option"       2 ""    -- "$CLI" paths --bogus
check "missing argument"     2 ""    -- "$CLI" settings get SmtpServer
check "default port"         0 "25"  -- "$CLI" settings get SmtpServer Port
check "default reminder"     0 "y"   -- "$CLI" settings get 'Test' Test
check "set server"           0 ""    -- "$CLI" settings set SmtpServer Server relay.example.test
check "get server"           0 "relay.example.test" -- "$CLI" settings get SmtpServer Server
check "set nested subkey"    0 ""    -- "$CLI" settings set 'Info\Test' Test y
check "get nested subkey"    0 "y"   -- "$CLI" settings get 'Info\Test' Test
check "full key path"        0 "y"   -- "$CLI" settings get 'Microsoft\Application\Twelve\Info\Test' Test
check "bad key name"         1 ""    -- "$CLI" settings set 'Bad]Key' V x
server100=$(printf 's%.0s' $(seq 100))
check "100-character server" 0 ""    -- "$CLI" settings set SmtpServer Server "$server100"
check "reads back whole"     0 "$server100" -- "$CLI" settings get SmtpServer Server
check "too long is refused"  1 ""    -- "$CLI" settings set SmtpServer Server "$(printf 'x%.0s' $(seq 301))"
grep -q "too long" "$W/stderr" || { echo "FAIL too-long message: $(cat "$W/stderr")"; failures=$((failures + 1)); }
check "flag is one letter"   1 ""    -- "$CLI" settings set Test Test yes
check "refused left it"      0 "$server100" -- "$CLI" settings get SmtpServer Server

# A store that is there but cannot be read (here: over the size limit) is not replaced by a write.
big="$W/big/settings.ini"; mkdir -p "$W/big"
{ printf '[SmtpServer]\nServer=relay.example.test\nPassword=secret\n#'; head -c 1100000 /dev/zero | tr '\0' x; echo; } > "$big"
cp "$big" "$W/big.orig"
check "set on unreadable store" 1 "" -- env QUILLMARK_CONFIG="$big" "$CLI" settings set SmtpServer Port 2525
grep -q "cannot read the settings file" "$W/stderr" || { echo "FAIL unreadable message: $(cat "$W/stderr")"; failures=$((failures + 1)); }
cmp -s "$big" "$W/big.orig" || { echo "FAIL unreadable store was changed"; failures=$((failures + 1)); }
mode=$(stat -c %a "$QUILLMARK_CONFIG")
[ "$mode" = 600 ] || { echo "FAIL settings file mode $mode"; failures=$((failures + 1)); }

check "paths" 0 "program folder: $W/home
data root: $W/home/ProgramData/QMK
settings file: $W/cfg/settings.ini" -- "$CLI" paths
[ -d "$W/home/GroupRecipients" ] && [ -d "$W/home/ProgramData/QMK/OutBox" ] || { echo "FAIL folders"; failures=$((failures + 1)); }

check "address check" 0 "valid
invalid
invalid" -- "$CLI" address check a.b@example.com a+b@example.com ' a@example.com'
printf 'Write to ann@x.com or bob.smith@mail.example.org; not a..b@c; again ann@x.com\n' > "$W/text.txt"
check "address find" 0 "ann@x.com
bob.smith@mail.example.org
ann@x.com" -- "$CLI" address find "$W/text.txt"
check "address find missing file" 1 "" -- "$CLI" address find "$W/none.txt"

printf 'a@x.com,Ann,,,,,,,,,,,,E\r\nb@x.com,Bob,,,,,,,,,,,,D\r\n' > "$W/home/GroupRecipients/_Friends.sbz"
: > "$W/home/GroupRecipients/_empty.sbz"
check "groups list" 0 "empty
Friends" -- "$CLI" groups list
# Written by another tool: bare LF, a blank line, no final line end.
printf 'h@x.com,Hal,,,,,,,,,,,,E\n\ni@x.com,Ida,,,,,,,,,,,,U' > "$W/home/GroupRecipients/_Hand.sbz"
check "groups show" 0 "a@x.com,Ann,,,,,,,,,,,,E
b@x.com,Bob,,,,,,,,,,,,D" -- "$CLI" groups show Friends
check "groups show missing" 1 "" -- "$CLI" groups show Nobody
grep -qx "No group named 'Nobody' (see quillmark-cli groups list)" "$W/stderr" || { echo "FAIL missing group message: $(cat "$W/stderr")"; failures=$((failures + 1)); }
check "save-list" 0 "saved $W/all.hvt" -- "$CLI" groups save-list "$W/all"
rm "$W/home/GroupRecipients/"*.sbz
check "open-list" 0 "empty
Friends
Hand" -- "$CLI" groups open-list "$W/all.hvt"
check "restored group" 0 "a@x.com,Ann,,,,,,,,,,,,E
b@x.com,Bob,,,,,,,,,,,,D" -- "$CLI" groups show Friends
check "restored hand-written group" 0 "h@x.com,Hal,,,,,,,,,,,,E
i@x.com,Ida,,,,,,,,,,,,U" -- "$CLI" groups show Hand
printf 'junk' > "$W/bad.hvt"
check "open-list bad file" 1 "" -- "$CLI" groups open-list "$W/bad.hvt"
grep -q "Unsupported file format." "$W/stderr" || { echo "FAIL unsupported message"; failures=$((failures + 1)); }
check "groups survive bad file" 0 "empty
Friends
Hand" -- "$CLI" groups list

# Without HOME and without a password database entry there is no folder of this user: the command
# stops with the reason instead of using a name under /tmp that anyone could have made first.
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null && ! getent passwd 4242 >/dev/null; then
  nohome() { env -u HOME -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u QUILLMARK_CONFIG -u QUILLMARK_HOME \
               setpriv --reuid=4242 --regid=4242 --clear-groups "$@"; }
  tmpBefore=$(ls -d /tmp/quillmark* 2>/dev/null)
  check "no home: paths"        1 ""      -- nohome "$CLI" paths
  grep -q "No home folder: HOME is not set" "$W/stderr" || { echo "FAIL no-home message: $(cat "$W/stderr")"; failures=$((failures + 1)); }
  check "no home: settings set" 1 ""      -- nohome "$CLI" settings set SmtpServer Port 2525
  check "no home: address"      0 "valid" -- nohome "$CLI" address check a@example.com
  [ "$(ls -d /tmp/quillmark* 2>/dev/null)" = "$tmpBefore" ] || { echo "FAIL no-home run made a folder under /tmp"; failures=$((failures + 1)); }
fi

[ "$failures" = 0 ] && echo "all cli checks passed"
exit "$failures"

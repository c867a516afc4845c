#!/usr/bin/env bash
# quillmark-cli message build with the unsubscribe header fields and the text-part choice: what
# Python's email package reads from the DATA text, the stored choices and the options over them,
# a refused URL, and the default copy unchanged by an empty choice.
set -u
CLI=$1
W=$(mktemp -d); trap 'rm -rf "$W"' EXIT
export QUILLMARK_CONFIG="$W/cfg/settings.ini" QUILLMARK_HOME="$W/home"
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
printf '<html><head><title>T</title></head><body><h1>Spring sale</h1><p>Hello&nbsp;Bob, see <a href="https://shop.example.com/">our shop</a>.</p><ul><li>One</li><li>Two</li></ul></body></html>' > "$W/page.html"
build() {
    "$CLI" message build --from-name Ann --from ann@example.com --subject Offer --html "$W/page.html" \
        --to bob@example.org --unsubscribe unsub@example.com --group "Spring Buyers" "$@"
}
# Header values and the text/plain part as the email package reads them (the DATA text is
# dot-stuffed; this page has no line starting with a dot).
read_mail() {
    /usr/bin/python3 -c '
import email, email.policy, sys
m = email.message_from_binary_file(sys.stdin.buffer, policy=email.policy.default)
print("LU=%s" % m["List-Unsubscribe"])
print("LUP=%s" % m["List-Unsubscribe-Post"])
for p in m.walk():
    if p.get_content_type() == "text/plain":
        print(p.get_content().rstrip())
'
}

out=$(build --text-part readable \
    --unsubscribe-url 'https://lists.example.com/u?e=[**EMAIL**]&g=[**GROUP**]' | read_mail)
want='LU=<mailto:unsub@example.com?subject=Unsubscribe-Spring:Buyers>, <https://lists.example.com/u?e=bob%40example.org&g=Spring%20Buyers>
LUP=List-Unsubscribe=One-Click
Spring sale
===========

Hello Bob, see our shop <https://shop.example.com/>.

* One
* Two

Send Mail To unsub@example.com to unsubscribe.
<mailto:unsub@example.com?Subject=Unsubscribe-Spring:Buyers>'
[ "$out" = "$want" ] || fail "readable with url: [$out]"

out=$(build | read_mail | head -2)
[ "$out" = "LU=<mailto:unsub@example.com?subject=Unsubscribe-Spring:Buyers>
LUP=None" ] || fail "mailto only, no post field: [$out]"

err=$(build --unsubscribe-url http://lists.example.com/u 2>&1 >/dev/null); rc=$?
[ "$rc" = 1 ] && grep -q 'https://' <<<"$err" || fail "http url refused: rc=$rc [$err]"

# Stored choices apply; the options win over them; an empty URL option turns the stored one off.
build > "$W/default.txt" || fail "default build"
"$CLI" settings set SmtpServer TextPart readable >/dev/null || fail "store text part"
"$CLI" settings set Info UnsubscribeUrl 'https://x.example/[**EMAIL**]' >/dev/null || fail "store url"
out=$(build | read_mail | sed -n '2p;3p')
[ "$out" = "LUP=List-Unsubscribe=One-Click
Spring sale" ] || fail "stored choices: [$out]"
build --text-part source --unsubscribe-url "" > "$W/over.txt" || fail "options over stored"
# Date and Message-ID change from build to build.
cmp -s <(grep -av '^Date: \|^Message-ID: ' "$W/default.txt") <(grep -av '^Date: \|^Message-ID: ' "$W/over.txt") ||
    fail "options over stored differ from the default copy"

# The bulk-sender profile: for one run with --profile, stored with settings profile; switched off
# it gives the copy of before again, and a single option still goes over it.
strip() { grep -av '^Date: \|^Message-ID: ' "$1"; }
"$CLI" settings set SmtpServer TextPart source >/dev/null || fail "store text part back"
"$CLI" settings set Info UnsubscribeUrl '' >/dev/null || fail "store url back"
build > "$W/plain.txt" || fail "build before the profile"
read_profile() {
    /usr/bin/python3 -c '
import email, email.policy, sys
m = email.message_from_binary_file(sys.stdin.buffer, policy=email.policy.default)
print("LI=%s" % m["List-Id"])
for p in m.walk():
    if p.get_content_type() == "text/html":
        print("lower" if "<center><br><a" in p.get_content() else "classic")
    if p.get_content_type() == "text/plain":
        print("source" if "<h1>" in p.get_content() else "readable")
'
}
out=$(build --profile current | read_profile)
[ "$out" = 'LI="Spring Buyers" <spring-buyers.example.com>
readable
lower' ] || fail "--profile current: [$out]"
out=$(build --profile current --list-id n --text-part source | read_profile)
[ "$out" = 'LI=None
source
lower' ] || fail "single options over --profile: [$out]"
out=$("$CLI" settings profile current) || fail "settings profile current"
grep -q '^Follow current bulk-sender rules: on$' <<<"$out" &&
    grep -q '^set by the profile: readable text part, List-Id, MX by preference, lower-case footer$' <<<"$out" &&
    grep -q 'quillmark-cli check-domain' <<<"$out" || fail "profile on: [$out]"
[ "$("$CLI" settings get SmtpServer MxOrder)" = preference ] || fail "profile on: MX order"
out=$(build | read_profile)
[ "$out" = 'LI="Spring Buyers" <spring-buyers.example.com>
readable
lower' ] || fail "stored profile: [$out]"
build --profile as-specified > "$W/as.txt" || fail "--profile as-specified"
cmp -s <(strip "$W/plain.txt") <(strip "$W/as.txt") || fail "--profile as-specified differs"
"$CLI" settings set SmtpServer ListId n >/dev/null || fail "list id off by hand"
out=$("$CLI" settings profile) || fail "settings profile (show)"
grep -q '^set by the profile: readable text part, MX by preference, lower-case footer$' <<<"$out" &&
    ! grep -q 'check-domain' <<<"$out" || fail "profile shown: [$out]"
"$CLI" settings set SmtpServer Profile as-specified >/dev/null || fail "profile off by settings set"
build > "$W/off.txt" || fail "build after the profile"
cmp -s <(strip "$W/plain.txt") <(strip "$W/off.txt") || fail "profile off differs from before"
[ "$("$CLI" settings get SmtpServer MxOrder)" = answer ] || fail "profile off: MX order"
err=$("$CLI" settings profile sometimes 2>&1); [ $? = 2 ] || fail "unknown profile accepted: [$err]"

[ "$failures" = 0 ] && echo "all passed"
exit $((failures > 0))

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

[ "$failures" = 0 ] && echo "all passed"
exit $((failures > 0))

#!/bin/bash
# opendkim_ns.sh DIR : checks every DIR/*.eml with opendkim-testmsg, which asks only the system
# resolver. Run as root inside private network and mount namespaces (unshare --net --mount), so a
# dnsmasq on 127.0.0.1:53 answers for good.test from the key records next to this script and the
# machine's resolv.conf is left alone; nothing leaves the namespace. Prints "NAME rc=N" per message
# (0: a signature passed).
set -euo pipefail
W=$1
HERE=$(cd "$(dirname "$0")" && pwd)
ip link set lo up
txt() { fold -w 250 "$2" | sed 's/.*/"&"/' | paste -sd, | sed "s/^/txt-record=$1,/"; }
{ printf '%s\n' port=53 listen-address=127.0.0.1 bind-interfaces no-resolv no-hosts user=root local=/test/
  txt rsa1._domainkey.good.test "$HERE/rsa.txt"; txt ed1._domainkey.good.test "$HERE/ed25519.txt"; } > "$W/dns.conf"
echo "nameserver 127.0.0.1" > "$W/resolv.conf"
mount --bind "$W/resolv.conf" /etc/resolv.conf
dnsmasq --keep-in-foreground --conf-file="$W/dns.conf" 2> "$W/dns.log" & DNS=$!
trap 'kill $DNS 2>/dev/null; wait $DNS 2>/dev/null || true' EXIT
until ss -Hlun 'sport = :53' | grep -q .; do
  kill -0 $DNS 2>/dev/null || { echo "dnsmasq exited:" >&2; cat "$W/dns.log" >&2; exit 1; }
  sleep 0.02
done
for f in "$W"/*.eml; do
  opendkim-testmsg < "$f" 2>> "$W/opendkim.log" && r=0 || r=$?
  echo "$(basename "$f") rc=$r"
done

#!/bin/bash
# Starts the real servers that integration tests talk to, runs one test command, stops them.
#   with_peers.sh PEER... -- COMMAND [ARG...]
# PEER is one of:
#   sink  smtp-sink dumping every message:     QM_SINK_PORT, QM_SINK_DUMP (folder of msg.* files),
#         QM_SINK_COUNTERS (its running counters, "sess=N quit=N mesg=N", CR between updates)
#   aio   aiosmtpd with AUTH LOGIN (alice/s3cret), STARTTLS, and a second, implicit-TLS listener:
#         QM_AIO_PORT, QM_AIO_TLS_PORT, QM_AIO_DIR (N.eml/N.env per message), QM_AIO_CERT
#         (self-signed, subjectAltName DNS:localhost only, so 127.0.0.1 does not match it)
#   dns   dnsmasq with the records of dnsmasq-test.conf.in: QM_DNS_PORT (UDP and TCP, 127.0.0.1),
#         QM_DNS_LOG (its log, one line per query)
#   pop3  Dovecot POP3 with STLS, and POP3S, mailbox of pop3-mailbox.sh (alice/s3cret): QM_POP3_PORT,
#         QM_POP3S_PORT, QM_POP3_CERT (self-signed, subjectAltName DNS:localhost and IP:127.0.0.1),
#         QM_POP3_MAILDIR
# Ports are free ones picked at run time, so parallel runs do not collide. Each server is a direct
# child of this script and is stopped with SIGTERM on exit. A server that does not come up makes
# the script fail (exit 1): a test that needs it must not pass without it.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
PY=/usr/bin/python3   # the one that has aiosmtpd
W=$(mktemp -d /tmp/qm-peers.XXXXXX); chmod 755 "$W"
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  rm -rf "$W"
}
trap cleanup EXIT

# Up to 60 s: under the sanitizers, with parallel tests, a Python server once needed over 30 s
# to listen. A server that has exited is reported at once by alive() after the wait.
wait_port() {  # tcp|udp PORT
  local until=$((SECONDS + 60))
  while [ "$SECONDS" -lt "$until" ]; do
    ss -Hl"${1:0:1}"n "sport = :$2" | grep -q . && return 0
    kill -0 "${PIDS[-1]}" 2>/dev/null || return 0
    sleep 0.05
  done
  echo "$1 port $2 did not come up" >&2; return 1
}
wait_tcp() { wait_port tcp "$1"; }
wait_udp() { wait_port udp "$1"; }
# A port the kernel hands out for both TCP and UDP right now, and that nothing listens on.
free_port() {
  local p
  for _ in $(seq 1 20); do
    p=$($PY -c 'import socket
s=socket.socket(); s.bind(("127.0.0.1",0)); p=s.getsockname()[1]
u=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind(("127.0.0.1",p)); print(p)' 2>/dev/null) || continue
    ss -Hltun "sport = :$p" | grep -q . || { echo "$p"; return 0; }
  done
  echo "no free port" >&2; return 1
}
alive() { kill -0 "$1" 2>/dev/null || { echo "$2 exited at start:" >&2; cat "$3" >&2 || true; return 1; }; }

peers=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do peers+=("$1"); shift; done
[ "${1:-}" = "--" ] || { echo "usage: $0 PEER... -- COMMAND..." >&2; exit 2; }
shift

for peer in "${peers[@]}"; do
  case "$peer" in
    sink)
      export QM_SINK_PORT=$(free_port) QM_SINK_DUMP="$W/sink"
      mkdir -p "$QM_SINK_DUMP"; chown nobody "$QM_SINK_DUMP"
      export QM_SINK_COUNTERS="$W/sink.counters"
      smtp-sink -u nobody -c -d "$QM_SINK_DUMP/msg." "127.0.0.1:$QM_SINK_PORT" 64 > "$QM_SINK_COUNTERS" 2> "$W/sink.log" & PIDS+=($!)
      wait_tcp "$QM_SINK_PORT"; alive "${PIDS[-1]}" smtp-sink "$W/sink.log" ;;
    aio)
      export QM_AIO_PORT=$(free_port) QM_AIO_DIR="$W/aio" QM_AIO_CERT="$W/cert.pem"
      openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost \
        -addext subjectAltName=DNS:localhost -keyout "$W/key.pem" -out "$QM_AIO_CERT" 2>/dev/null
      export QM_AIO_TLS_PORT=$(free_port)
      $PY "$HERE/authsmtpd.py" "$QM_AIO_PORT" "$QM_AIO_DIR" "$QM_AIO_CERT" "$W/key.pem" "$QM_AIO_TLS_PORT" > "$W/aio.log" 2>&1 & PIDS+=($!)
      wait_tcp "$QM_AIO_PORT"; wait_tcp "$QM_AIO_TLS_PORT"; alive "${PIDS[-1]}" aiosmtpd "$W/aio.log" ;;
    dns)
      export QM_DNS_PORT=$(free_port) QM_DNS_LOG="$W/dns.log"
      sed "s/@PORT@/$QM_DNS_PORT/" "$HERE/dnsmasq-test.conf.in" > "$W/dnsmasq.conf"
      dnsmasq --keep-in-foreground --conf-file="$W/dnsmasq.conf" > "$W/dns.log" 2>&1 & PIDS+=($!)
      wait_udp "$QM_DNS_PORT"; alive "${PIDS[-1]}" dnsmasq "$W/dns.log" ;;
    pop3)
      D="$W/pop"; mkdir -p "$D"; chmod 755 "$D"
      MU=nobody; [ "$(id -u)" = 0 ] || MU=$(id -un); MG=$(id -gn "$MU")
      export QM_POP3_PORT=$(free_port) QM_POP3S_PORT=$(free_port) QM_POP3_CERT="$D/cert.pem"
      openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=localhost \
        -addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout "$D/key.pem" -out "$QM_POP3_CERT" 2>/dev/null
      export QM_POP3_MAILDIR="$D/home/alice/Maildir"; mkdir -p "$QM_POP3_MAILDIR"/{new,cur,tmp}
      bash "$HERE/pop3-mailbox.sh" "$QM_POP3_MAILDIR"
      chown -R "$MU:$MG" "$D/home"
      echo "alice:{PLAIN}s3cret::::$D/home/alice" > "$D/passwd"
      sed -e "s|@DIR@|$D|g" -e "s|@USER@|$MU|g" -e "s|@GROUP@|$MG|g" \
          -e "s|@PORT@|$QM_POP3_PORT|g" -e "s|@TLSPORT@|$QM_POP3S_PORT|g" \
          "$HERE/dovecot-test.conf.in" > "$D/dovecot.conf"
      dovecot -F -c "$D/dovecot.conf" > "$D/log" 2>&1 & PIDS+=($!)
      wait_tcp "$QM_POP3_PORT"; wait_tcp "$QM_POP3S_PORT"; alive "${PIDS[-1]}" dovecot "$D/log" ;;
    *) echo "unknown peer $peer" >&2; exit 2 ;;
  esac
done

rc=0
"$@" || rc=$?
exit $rc

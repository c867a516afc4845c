#!/bin/bash
# Runs the acceptance matrix in a private network and mount namespace: its exchangers listen on
# port 25 of a loopback of their own, and nothing it starts can reach or disturb the machine's
# network. Needs root (Postfix's master and the namespace); elsewhere the test is skipped (77).
#   run_matrix.sh QUILLMARK_CLI SOURCE_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${QM_MATRIX_INSIDE:-}" != 1 ]; then
  if [ "$(id -u)" -ne 0 ] || ! unshare --net --mount true 2>/dev/null; then
    echo "acceptance matrix skipped: it needs root and network namespaces (unshare --net)"
    exit 77
  fi
  exec env QM_MATRIX_INSIDE=1 unshare --net --mount "$0" "$@"
fi
ip link set lo up
# Nothing here may ask the machine's own resolver: every name comes from the test DNS server.
printf 'nameserver 127.0.0.1\n' > "${TMPDIR:-/tmp}/qm-matrix-resolv.$$"
mount --bind "${TMPDIR:-/tmp}/qm-matrix-resolv.$$" /etc/resolv.conf
rm -f "${TMPDIR:-/tmp}/qm-matrix-resolv.$$"
cd "$here"
exec /usr/bin/python3 "$here/matrix.py" "$@"

#!/bin/sh
# The real program started by root with nothing in its environment about the web engine's sandbox
# (as `scripts/run` and Quillsetup's "Launch Quillmark" start it): it must turn the sandbox off by
# itself, say so in one line, and reach its main window. Exit 77 (skipped) when not root.
# usage: start_as_root.sh QUILLMARK_BINARY
set -eu
if [ "$(id -u)" != 0 ]; then
  echo "not root: the start as root cannot be tried here"
  exit 77
fi
unset QTWEBENGINE_DISABLE_SANDBOX QTWEBENGINE_CHROMIUM_FLAGS
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf '[Test]\nTest=n\n' >"$dir/settings.ini"
status=0
QUILLMARK_CONFIG="$dir/settings.ini" QUILLMARK_HOME="$dir/home" QUILLMARK_BENCH_EXIT_AFTER_PAINT=1 \
  "$1" >"$dir/out" 2>"$dir/err" || status=$?
cat "$dir/out"
if [ "$status" != 0 ]; then
  echo "exit status $status; stderr:" >&2; cat "$dir/err" >&2; exit 1
fi
grep -q '^first paint: ' "$dir/out" || { echo "no first paint reported" >&2; cat "$dir/err" >&2; exit 1; }
n=$(grep -c "running as root, so the web engine's sandbox is turned off" "$dir/err" || true)
[ "$n" = 1 ] || { echo "want one line about the sandbox, got $n:" >&2; cat "$dir/err" >&2; exit 1; }

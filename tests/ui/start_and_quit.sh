#!/bin/sh
# The real program offscreen: starts in a fresh profile, paints its main window, closes it the way
# File > Exit does, and exits 0 (a crash at start-up or teardown fails here).
# usage: start_and_quit.sh QUILLMARK_BINARY
set -eu
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# A returning user: the tutorial reminder would wait for a click.
printf '[Test]\nTest=n\n' >"$dir/settings.ini"
out=$(QUILLMARK_CONFIG="$dir/settings.ini" QUILLMARK_HOME="$dir/home" \
    QUILLMARK_BENCH_EXIT_AFTER_PAINT=1 "$1")
echo "$out"
case "$out" in
"first paint: "*) ;;
*) echo "no first paint reported" >&2; exit 1 ;;
esac
grep -q '^Port=' "$dir/settings.ini" || { echo "settings were not saved at close" >&2; exit 1; }

#!/usr/bin/env bash
# The browser extension's way into a window against a start from a terminal,
# run by hand (never by the tests):
#
#   bench/browser_open.sh [PHOTO]
#
# On a private Xvfb display, the time from starting the program to the first
# visible Peloria window, median of RUNS runs (default 9), interleaved:
#   file     peloria PHOTO, as from a terminal
#   handed   peloria-host given the message the extension sends for a blob:
#            picture (the photo's bytes in base64), as the browser starts it
#   address  peloria-host given a file:/// address of the photo
# The browser's own part of a menu click (starting the host, the extension's
# work) is not in these figures. PHOTO defaults to the build's sample photo.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
bin=$here/build/bin
photo=$(realpath "${1:-$bin/sample.jpg}")
runs=${RUNS:-9}
work=$(mktemp -d)
trap 'kill "$xvfb" 2>/dev/null || true; rm -rf "$work"' EXIT

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=:$(cat "$work/display") HOME=$work XDG_CACHE_HOME=$work/cache \
  XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

# A framed native message: a 32-bit length in the machine's byte order, then
# the JSON text.
frame() {
  python3 -c 'import struct, sys; d = sys.stdin.buffer.read(); sys.stdout.buffer.write(struct.pack("=I", len(d)) + d)'
}
{ printf '{"address":"blob:http://127.0.0.1/1","picture":"'; base64 -w0 "$photo"; printf '"}'; } |
  frame >"$work/handed.msg"
printf '{"address":"file://%s"}' "$photo" | frame >"$work/address.msg"

# Milliseconds from the command's start to the window on the screen; the
# window is closed afterwards.
timed() {
  local start end pid
  start=$(date +%s%N)
  "$@"
  xdotool search --sync --onlyvisible --class '^Peloria$' >/dev/null
  end=$(date +%s%N)
  for pid in $(xdotool search --onlyvisible --class '^Peloria$' getwindowpid %@ 2>/dev/null); do
    kill "$pid" 2>/dev/null || true
  done
  while xdotool search --onlyvisible --class '^Peloria$' >/dev/null 2>&1; do sleep 0.02; done
  echo $(((end - start) / 1000000))
}
median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }

declare -A times
for _ in $(seq "$runs"); do
  times[file]+="$(timed sh -c "'$bin/peloria' '$photo' >/dev/null 2>&1 &") "
  times[handed]+="$(timed sh -c "'$bin/peloria-host' <'$work/handed.msg' >/dev/null") "
  times[address]+="$(timed sh -c "'$bin/peloria-host' <'$work/address.msg' >/dev/null") "
done
file=$(echo "${times[file]}" | tr ' ' '\n' | grep . | median)
printf '%-8s %6s ms\n' file "$file"
for row in handed address; do
  t=$(echo "${times[$row]}" | tr ' ' '\n' | grep . | median)
  printf '%-8s %6s ms  %s x file\n' "$row" "$t" "$(awk -v a="$t" -v b="$file" 'BEGIN {printf "%.2f", a / b}')"
done

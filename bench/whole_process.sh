#!/usr/bin/env bash
# Whole-process timings of the peloria command against programs that do the
# same kind of work, run by hand (never by the tests):
#
#   bench/whole_process.sh [PELORIA] [ROWS...]
#
# PELORIA is the program to measure (default build/bin/peloria). ROWS picks
# rows by name (default all): print, paint, exif, version, bombs.
#
#   print    --print of a 24/50/100 MP camera-like JPEG against
#            djpeg -dct float -outfile /dev/null (the same decoder, the same DCT)
#   paint    start to the first frame that shows a 24/50 MP photo against feh
#            and eog (those installed), and the click on the thumbnail to the
#            histogram on the screen, on a private Xvfb display, through
#            build/bench/first_paint_bench (cmake -DPELORIA_BENCH=ON); HOLD
#            is how long the click holds the button (ms, default 0)
#   exif     --exif of a camera photo against exiv2 -pv
#   version  --version and --help against exiv2 --version
#   bombs    peak memory and time of two small JPEG files declaring huge
#            progressive pictures (refused, or decoded at great cost)
#
# Runs are interleaved (one of each program in turn) and the median of RUNS
# runs (default 7) is shown, wall time and CPU time (perf stat's task-clock,
# all threads), with the ratios peloria / peer. The pictures are
# made once into BENCH_DIR (default /tmp/peloria-bench) with ImageMagick and
# cjpeg (see photo below), which gives the size and decoding work of a
# camera's photo. The cost of the histogram's count and drawing alone is in
# histogram_bench (Google Benchmark).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
peloria=${1:-$here/build/bin/peloria}
shift || true
rows=("$@")
[ ${#rows[@]} -eq 0 ] && rows=(print paint exif version bombs)
runs=${RUNS:-7}
dir=${BENCH_DIR:-/tmp/peloria-bench}
mkdir -p "$dir"
peloria=$(realpath "$peloria")

# "WALL CPU": milliseconds of one run of the command (perf stat), output
# thrown away; CPU is the time on all its threads (task-clock), which a
# loaded machine changes far less than the wall time.
run_ms() {
  perf stat -e task-clock -o "$dir/perf.txt" "$@" >/dev/null 2>&1 || true
  awk '/task-clock/ {cpu = $1} /seconds time elapsed/ {wall = $1 * 1000}
       END {printf "%.1f %s\n", wall, cpu}' "$dir/perf.txt"
}

median() {
  sort -n | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'
}

# report LABEL PEER "WALL CPU"... (ours) -- "WALL CPU"... (peer)
report() {
  local label=$1 peer=$2
  shift 2
  local a=() b=()
  while [ "$1" != "--" ]; do a+=("$1"); shift; done
  shift
  b=("$@")
  local aw ac bw bc
  aw=$(printf '%s\n' "${a[@]}" | cut -d' ' -f1 | median)
  ac=$(printf '%s\n' "${a[@]}" | cut -d' ' -f2 | median)
  bw=$(printf '%s\n' "${b[@]}" | cut -d' ' -f1 | median)
  bc=$(printf '%s\n' "${b[@]}" | cut -d' ' -f2 | median)
  awk -v l="$label" -v p="$peer" -v aw="$aw" -v ac="$ac" -v bw="$bw" -v bc="$bc" 'BEGIN {
    printf "%-26s wall %7.1f / %-6s %7.1f ms = %.2f", l, aw, p, bw, (bw > 0 ? aw / bw : 0)
    if (bc > 0) printf "   cpu %7.1f / %7.1f ms = %.2f", ac, bc, ac / bc
    printf "\n"}'
}

# compare LABEL -- PELORIA-COMMAND... -- PEER-COMMAND...
compare() {
  local label=$1
  shift 2
  local ours=() peer=()
  while [ "$1" != "--" ]; do ours+=("$1"); shift; done
  shift
  peer=("$@")
  local a=() b=()
  run_ms "${ours[@]}" >/dev/null
  run_ms "${peer[@]}" >/dev/null  # warm the page cache
  for _ in $(seq "$runs"); do
    a+=("$(run_ms "${ours[@]}")")
    b+=("$(run_ms "${peer[@]}")")
  done
  report "$label" "${peer[0]##*/}" "${a[@]}" -- "${b[@]}"
}

# A camera-like JPEG of WIDTHxHEIGHT, made once: a smooth fractal scaled up
# with fine noise on top, 4:2:0, quality 92. ImageMagick's default resource
# policy refuses a whole 100 MP picture, so it makes the two halves of one
# fractal apart and libjpeg's cjpeg compresses them joined.
photo() {
  local size=$1 file="$dir/photo-$1.jpg"
  if [ ! -s "$file" ]; then
    echo "making $file" >&2
    local w=${size%x*} h=${size#*x}
    local top=$((h / 2))
    convert -size 800x600 plasma:fractal "$dir/plasma.ppm"
    convert "$dir/plasma.ppm" -crop 800x300+0+0 +repage -resize "${w}x${top}!" \
      -attenuate 0.4 +noise Gaussian "ppm:$dir/top.ppm"
    convert "$dir/plasma.ppm" -crop 800x300+0+300 +repage -resize "${w}x$((h - top))!" \
      -attenuate 0.4 +noise Gaussian "ppm:$dir/bottom.ppm"
    pnmcat -tb "$dir/top.ppm" "$dir/bottom.ppm" | cjpeg -quality 92 -sample 2x2 >"$file"
    rm -f "$dir/plasma.ppm" "$dir/top.ppm" "$dir/bottom.ppm"
  fi
  echo "$file"
}

# A progressive JPEG of a few hundred bytes declaring WIDTH x HEIGHT with
# COMPONENTS full-resolution components, a DC scan and one AC scan.
bomb() {
  local file="$dir/bomb-$1x$2x$3.jpg"
  python3 - "$1" "$2" "$3" "$file" <<'EOF'
import sys
w, h, n, path = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
out = bytearray(b"\xFF\xD8")
def segment(marker, body):
    out.extend(bytes([0xFF, marker, (len(body) + 2) >> 8, (len(body) + 2) & 0xFF]) + body)
segment(0xDB, b"\0" + b"\x01" * 64)
segment(0xC2, bytes([8, h >> 8, h & 255, w >> 8, w & 255, n]) +
        b"".join(bytes([i, 0x11, 0]) for i in range(1, n + 1)))
one_code = b"\x01" + b"\0" * 15 + b"\0"
segment(0xC4, b"\x00" + one_code)
segment(0xC4, b"\x10" + one_code)
segment(0xDA, bytes([n]) + b"".join(bytes([i, 0]) for i in range(1, n + 1)) + b"\0\0\0")
out.extend(b"\0" * 16)
segment(0xDA, bytes([1, 1, 0, 1, 63, 0]))
out.extend(b"\0" * 16 + b"\xFF\xD9")
open(path, "wb").write(out)
EOF
  echo "$file"
}

for row in "${rows[@]}"; do
  case $row in
    print)
      for size in 6000x4000 8660x5773 12247x8165; do
        f=$(photo "$size")
        compare "--print $size" -- "$peloria" --print "file://$f" \
          -- djpeg -dct float -outfile /dev/null "$f"
      done
      ;;
    paint)
      started_xvfb=
      if [ -z "${DISPLAY:-}" ]; then
        : >"$dir/display"
        Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$dir/display" >/dev/null 2>&1 &
        started_xvfb=$!
        until [ -s "$dir/display" ] || ! kill -0 "$started_xvfb" 2>/dev/null; do sleep 0.1; done
        export DISPLAY=":$(head -1 "$dir/display")"
      fi
      viewers=()
      for v in feh eog; do command -v "$v" >/dev/null && viewers+=("$v"); done
      for size in 6000x4000 8660x5773; do
        f=$(photo "$size")
        "$here/build/bench/first_paint_bench" --runs "$runs" --click --hold "${HOLD:-0}" \
          "$peloria" "$f" "${viewers[@]}"
      done
      [ -n "$started_xvfb" ] && kill "$started_xvfb"
      ;;
    exif)
      sample=${SAMPLE:-$here/../shared/samples/Canon_40D.jpg}
      [ -f "$sample" ] || sample=$here/build/bin/sample.jpg
      compare "--exif ${sample##*/}" -- "$peloria" --exif "$sample" -- exiv2 -pv "$sample"
      ;;
    version)
      compare "--version" -- "$peloria" --version -- exiv2 --version
      compare "--help" -- "$peloria" --help -- exiv2 --version
      ;;
    bombs)
      for dims in "18900 18900 3" "32768 32767 1"; do
        # shellcheck disable=SC2086
        f=$(bomb $dims)
        /usr/bin/time -f "bomb ${dims// /x} ($(stat -c %s "$f") bytes): %e s, peak %M KiB, exit %x" \
          "$peloria" --print "file://$f" >/dev/null 2>"$dir/bomb.err" || true
        tail -1 "$dir/bomb.err"
      done
      ;;
    *) echo "unknown row: $row" >&2; exit 2 ;;
  esac
done

#!/usr/bin/env bash
# Conversion speed against decoding alone: makes a 60-second 640x480 30 fps H.264 movie
# (keyframe every 250 frames, B-frames), converts it with vintrel-convert and decodes it with
# `ffmpeg -threads 1 -f null -`, and prints the ratio of the two wall times (goal: at most 1.25)
# and the conversion's peak memory (goal: at most 200 MB). Also times preview steps.
#   bench/conversion_benchmark.sh [BUILD_DIR]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

movie="$work/bench.mp4"
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=640x480:rate=30 -t 60 \
  -c:v libx264 -preset veryfast -g 250 -bf 3 -pix_fmt yuv420p "$movie"

seconds() { /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1; cat "$work/time"; }

read -r decode_s _ < <(seconds ffmpeg -nostdin -threads 1 -i "$movie" -f null -)
read -r convert_s convert_kb < <(seconds "$build/cli/vintrel-convert" --stat "$work/stat.out" "$movie")
[ -s "$work/bench.pdb" ] || { echo "conversion failed" >&2; exit 1; }

python3 - "$decode_s" "$convert_s" "$convert_kb" <<'PY'
import sys
decode, convert, kb = float(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3])
print(f"decode only (ffmpeg -threads 1): {decode:.2f} s")
print(f"vintrel-convert:                 {convert:.2f} s")
print(f"ratio:                           {convert / decode:.2f}  (goal <= 1.25)")
print(f"peak memory of the conversion:   {kb / 1024:.0f} MB  (goal <= 200 MB)")
PY

if [ -x "$build/bench/preview_benchmark" ]; then
  "$build/bench/preview_benchmark" "$movie"
fi

#!/usr/bin/env bash
# Conversion speed against decoding alone: makes a 60-second 640x480 and a 20-second 1920x1080
# 30 fps H.264 movie (keyframe every 250 frames, B-frames), then converts each with
# vintrel-convert and decodes it with `ffmpeg -threads 1 -f null -`, side by side, RUNS times, and
# prints the ratios of the wall times (goals: at most 0.9 at 640x480, at most 1.0 at 1920x1080)
# and the conversions' peak memory. Also times preview steps when the preview benchmark is built.
#   bench/conversion_benchmark.sh [BUILD_DIR [RUNS]]   (default build/release 3)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

seconds() { /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1; cat "$work/time"; }

for spec in 640x480:60:0.9 1920x1080:20:1.0; do
  IFS=: read -r size length goal <<<"$spec"
  movie="$work/bench-$size.mp4"
  ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=$size:rate=30" -t "$length" \
    -c:v libx264 -preset veryfast -g 250 -bf 3 -pix_fmt yuv420p "$movie"
  for run in $(seq "$runs"); do
    read -r decode_s _ < <(seconds ffmpeg -nostdin -threads 1 -i "$movie" -f null -)
    read -r convert_s convert_kb < <(seconds "$build/cli/vintrel-convert" --stat "$work/stat.out" "$movie")
    [ -s "$work/bench-$size.pdb" ] || { echo "conversion failed" >&2; exit 1; }
    python3 -c "import sys; s,n,r,d,c,kb,g=sys.argv[1:]; d,c=float(d),float(c); \
print(f'{s:>9} {n:>3} s, run {r}: decode {d:.2f} s, convert {c:.2f} s, ratio {c/d:.2f} (goal <= {g}), peak {int(kb)/1024:.0f} MB')" \
      "$size" "$length" "$run" "$decode_s" "$convert_s" "$convert_kb" "$goal"
  done
  if [ "$size" = 640x480 ] && [ -x "$build/bench/preview_benchmark" ]; then
    "$build/bench/preview_benchmark" "$movie"
  fi
  rm -f "$movie" "$work/bench-$size.pdb" "$work/bench-$size.mpg"
done

#!/usr/bin/env bash
# Memory of long conversions: makes movies of the given lengths in minutes (5 frames a second,
# H.264, so they stay small), converts each with vintrel-convert and prints its peak resident
# memory beside the sizes of the .pdb and .mpg. The frame records wait in a spool file, not in
# memory, so the peak should not grow with the movie: the last line of each set compares the
# longest movie's peak with the shortest's (goal: within 10 %, and every peak under 200 MB).
#   bench/memory_growth.sh [BUILD_DIR [SIZE[:grain] MINUTES...]]
#   default: build/release, then 640x480 at 10 30 60 minutes and 1920x1080 with film grain at 1 5 20
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
shift || true
if [ $# -gt 0 ]; then sets=("$*"); else sets=("640x480 10 30 60" "1920x1080:grain 1 5 20"); fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for set in "${sets[@]}"; do
  read -r spec minutes_list <<<"$set"
  size=${spec%%:*}
  filter="testsrc2=size=$size:rate=5"
  # Grain makes every record large, as real camera footage does (about 300 KB at 1920x1080).
  [ "$spec" != "${spec%:grain}" ] && filter="$filter,noise=alls=40:allf=t+u"
  printf '%10s %8s %14s %10s %10s %10s\n' size minutes "peak RSS (MB)" "pdb (MB)" "mpg (MB)" "time (s)"
  results=()
  for minutes in $minutes_list; do
    movie="$work/movie-$minutes.mp4"
    ffmpeg -nostdin -v error -f lavfi -i "$filter" -t $((minutes * 60)) \
      -c:v libx264 -preset ultrafast -g 50 -pix_fmt yuv420p "$movie"
    /usr/bin/time -f "%M %e" -o "$work/time" "$build/cli/vintrel-convert" --stat "$work/stat.out" "$movie" \
      >/dev/null 2>"$work/err" || { tail -5 "$work/err" >&2; exit 1; }
    read -r kb seconds <"$work/time"
    pdb=$(stat -c %s "$work/movie-$minutes.pdb")
    mpg=$(stat -c %s "$work/movie-$minutes.mpg")
    python3 -c "import sys; z,m,kb,p,g,s=sys.argv[1:]; print(f'{z:>10} {m:>8} {int(kb)/1024:14.1f} {int(p)/2**20:10.1f} {int(g)/2**20:10.1f} {float(s):10.1f}')" \
      "$spec" "$minutes" "$kb" "$pdb" "$mpg" "$seconds"
    results+=("$minutes:$kb")
    rm -f "$movie" "$work/movie-$minutes.pdb" "$work/movie-$minutes.mpg"
  done
  python3 - "${results[@]}" <<'PY'
import sys
rows = [tuple(int(v) for v in r.split(":")) for r in sys.argv[1:]]
peaks = [kb / 1024 for _, kb in rows]
spread = (max(peaks) - min(peaks)) / min(peaks) * 100
print(f"peak memory from {min(peaks):.1f} to {max(peaks):.1f} MB: spread {spread:.1f} % "
      f"(goal: within 10 %, all under 200 MB)\n")
PY
done

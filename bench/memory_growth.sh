#!/usr/bin/env bash
# Memory of long conversions: makes 640x480 movies of the given lengths in minutes (default
# 10 30 60; 5 frames a second, H.264, so they stay small), converts each with vintrel-convert and
# prints its peak resident memory beside the sizes of the .pdb and .mpg. The frame records are
# kept until the database is written, so memory may grow with the movie by about what the .pdb
# holds, and by nothing more: the last line compares the two growths.
#   bench/memory_growth.sh [BUILD_DIR [MINUTES...]]   (default build/release 10 30 60)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
shift || true
[ $# -gt 0 ] || set -- 10 30 60
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf '%8s %14s %10s %10s %10s\n' minutes "peak RSS (MB)" "pdb (MB)" "mpg (MB)" "time (s)"
results=()
for minutes in "$@"; do
  movie="$work/movie-$minutes.mp4"
  ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=640x480:rate=5" -t $((minutes * 60)) \
    -c:v libx264 -preset ultrafast -g 50 -pix_fmt yuv420p "$movie"
  /usr/bin/time -f "%M %e" -o "$work/time" "$build/cli/vintrel-convert" --stat "$work/stat.out" "$movie" \
    >/dev/null 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
  read -r kb seconds <"$work/time"
  pdb=$(stat -c %s "$work/movie-$minutes.pdb")
  mpg=$(stat -c %s "$work/movie-$minutes.mpg")
  python3 -c "import sys; m,kb,p,g,s=sys.argv[1:]; print(f'{m:>8} {int(kb)/1024:14.1f} {int(p)/2**20:10.1f} {int(g)/2**20:10.1f} {float(s):10.1f}')" \
    "$minutes" "$kb" "$pdb" "$mpg" "$seconds"
  results+=("$minutes:$kb:$pdb")
  rm -f "$movie" "$work/movie-$minutes.pdb" "$work/movie-$minutes.mpg"
done

python3 - "${results[@]}" <<'PY'
import sys
rows = [tuple(int(v) for v in r.split(":")) for r in sys.argv[1:]]
if len(rows) >= 2:
    (m0, kb0, p0), (m1, kb1, p1) = rows[0], rows[-1]
    rss = (kb1 - kb0) * 1024 / 2**20
    pdb = (p1 - p0) / 2**20
    print(f"from {m0} to {m1} minutes: peak memory +{rss:.1f} MB, .pdb +{pdb:.1f} MB "
          f"(memory growth / .pdb growth = {rss / pdb if pdb else float('nan'):.2f})")
PY

#!/usr/bin/env bash
# Times this program against its peers on generated acquisitions of every
# shape the reader meets, and prints wall times, the user and system CPU
# seconds beside them, peak memory and the ratios; it never passes or fails.
#   bench/peers.sh     for each shape: RUNS runs of this program's batch
#                      conversion and of msconvert --text, in turn, and the
#                      medians; one run of OpenMS FileConverter
# Shapes (SPECTRA x POINTS, SHAPE of bench/make_acquisition):
#   33,000 x 1, one filter text; 33,000 x 1, a filter text each;
#   40,000 as laboratories have them (1 in 10 an MS1 scan of 1,000 points,
#   the rest 100-point MS2 scans naming their precursor); 5,000 x 2,000;
#   then for this program alone: 300,000 x 1; the laboratory's run as a
#   gzip export against its plain file; and for peak memory 1,000,000 x 1
#   with two filter texts and with a filter text each (about 1.4 GB each),
#   and one spectrum of 10,000,000 points.
# RUNS (default 5), SHAPES (to pick some: "lab big"; "all" for every one,
# the default those without a million) and BUILD (the build folder) may be
# set in the environment.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
source "$ROOT/scripts/lib/common.sh"

RUNS="${RUNS:-5}"
SHAPES="${SHAPES:-one distinct lab big many gzip}"
[ "$SHAPES" != all ] || SHAPES="one distinct lab big many gzip million million-distinct huge"
BUILD="${BUILD:-$ROOT/build}"

install_missing $BUILD_PACKAGES $BENCH_PACKAGES
configure_and_build "$BUILD"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

# measure COMMAND...: one run; sets WALL, USER, SYSTEM (seconds) and PEAK (MB).
measure() {
    /usr/bin/time -v -o "$WORK/time.txt" "$@" >"$WORK/output.txt" 2>&1 || echo "failed: $(tail -n 1 "$WORK/output.txt")"
    WALL="$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$WORK/time.txt")"
    USER="$(awk -F': ' '/User time \(seconds\)/ { print $2 }' "$WORK/time.txt")"
    SYSTEM="$(awk -F': ' '/System time \(seconds\)/ { print $2 }' "$WORK/time.txt")"
    PEAK="$(awk -F': ' '/Maximum resident set size/ { printf "%.1f", $2 / 1024 }' "$WORK/time.txt")"
}

# keep NAME: adds the last run's figures to NAME's.
keep() {
    echo "$WALL" >>"$WORK/$1.wall"
    echo "$USER" >>"$WORK/$1.user"
    echo "$SYSTEM" >>"$WORK/$1.system"
    echo "$PEAK" >>"$WORK/$1.peak"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.1fx", a / b; else print "-" }'; }

# row LABEL FILE: the medians of the runs a command's figures went to.
row() {
    printf '%-34s %7.2f s (user %6.2f s, system %5.2f s) %8s MB\n' "$1" "$(median <"$2.wall")" \
        "$(median <"$2.user")" "$(median <"$2.system")" "$(median <"$2.peak")"
}

# run LABEL SPECTRA POINTS SHAPE PEERS
run() {
    local label="$1" spectra="$2" points="$3" shape="$4" peers="$5"
    local acquisition="$WORK/acquisition"
    "$BUILD/bench/make_acquisition" "$acquisition.raw" "$spectra" "$points" "$shape"
    ln -f "$acquisition.raw" "$acquisition.mzML" # the peers go by the extension
    echo
    echo "$label: $(du -m "$acquisition.raw" | cut -f1) MB of mzML; medians of $RUNS runs, in turn"
    rm -f "$WORK"/*.wall "$WORK"/*.user "$WORK"/*.system "$WORK"/*.peak
    for _ in $(seq "$RUNS"); do
        measure "$BUILD/bench/bench_convert" "$acquisition.raw"
        keep this
        if [ "$peers" = yes ]; then
            measure msconvert "$acquisition.mzML" --text -o "$WORK/msconvert"
            keep msconvert
        fi
    done
    row "this program (batch conversion)" "$WORK/this"
    if [ "$peers" = yes ]; then
        row "msconvert FILE --text" "$WORK/msconvert"
        measure FileConverter -in "$acquisition.mzML" -out "$WORK/X.dta2d"
        printf '%-34s %7.2f s (user %6.2f s, system %5.2f s) %8s MB (one run)\n' "FileConverter -out X.dta2d" \
            "$WALL" "$USER" "$SYSTEM" "$PEAK"
        echo "msconvert --text / this program: $(ratio "$(median <"$WORK/msconvert.wall")" "$(median <"$WORK/this.wall")")" \
            "wall, $(ratio "$(median <"$WORK/msconvert.user")" "$(median <"$WORK/this.user")") user CPU"
    fi
    rm -rf "$WORK"/acquisition* "$WORK/msconvert" "$WORK/X.dta2d"
}

# gzip LABEL SPECTRA POINTS SHAPE: the export gzip-compressed against the
# plain file, in turn.
gzip_run() {
    local label="$1" acquisition="$WORK/acquisition"
    "$BUILD/bench/make_acquisition" "$acquisition.mzML" "$2" "$3" "$4"
    gzip -c "$acquisition.mzML" >"$acquisition.mzML.gz"
    echo
    echo "$label: $(du -m "$acquisition.mzML" | cut -f1) MB of mzML, $(du -m "$acquisition.mzML.gz" | cut -f1) MB" \
        "gzip-compressed; medians of $RUNS runs, in turn"
    rm -f "$WORK"/*.wall "$WORK"/*.user "$WORK"/*.system "$WORK"/*.peak
    for _ in $(seq "$RUNS"); do
        measure "$BUILD/bench/bench_convert" "$acquisition.mzML.gz"
        keep compressed
        measure "$BUILD/bench/bench_convert" "$acquisition.mzML"
        keep plain
    done
    row "gzip export" "$WORK/compressed"
    row "plain file" "$WORK/plain"
    echo "gzip export / plain file: $(ratio "$(median <"$WORK/compressed.wall")" "$(median <"$WORK/plain.wall")") wall"
    rm -rf "$WORK"/acquisition*
}

for shape in $SHAPES; do
    case "$shape" in
    one) run "33,000 x 1 point, one filter text" 33000 1 repeated yes ;;
    distinct) run "33,000 x 1 point, a filter text each" 33000 1 distinct yes ;;
    lab) run "40,000 spectra as a laboratory's run" 40000 100 lab yes ;;
    big) run "5,000 x 2,000 points" 5000 2000 repeated yes ;;
    many) run "300,000 x 1 point (this program alone)" 300000 1 repeated no ;;
    gzip) gzip_run "40,000 spectra as a laboratory's run" 40000 100 lab ;;
    million) run "1,000,000 x 1 point, two filter texts (this program alone)" 1000000 1 repeated no ;;
    million-distinct) run "1,000,000 x 1 point, a filter text each (this program alone)" 1000000 1 distinct no ;;
    huge) run "1 spectrum of 10,000,000 points (this program alone)" 1 10000000 repeated no ;;
    *) echo "unknown shape $shape" >&2 ;;
    esac
done

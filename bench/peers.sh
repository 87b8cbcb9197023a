#!/usr/bin/env bash
# Times this program against its peers on a generated acquisition and prints
# wall times, the user and system CPU seconds beside them, their ratios and
# peak memory; it never passes or fails.
#   bench/peers.sh            5,000 spectra x 2,000 points (about 150 MB),
#                             then 20,000 spectra for this program alone
# SPECTRA, POINTS, LARGE and BUILD (the build folder) may be set in the environment.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
source "$ROOT/scripts/lib/common.sh"

SPECTRA="${SPECTRA:-5000}"
POINTS="${POINTS:-2000}"
LARGE="${LARGE:-20000}"
BUILD="${BUILD:-$ROOT/build}"

install_missing $BUILD_PACKAGES $BENCH_PACKAGES
configure_and_build "$BUILD"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

# measure LABEL COMMAND...: one line of the table; sets WALL (seconds).
measure() {
    local label="$1"
    shift
    local status=ok
    /usr/bin/time -v -o "$WORK/time.txt" "$@" >"$WORK/output.txt" 2>&1 || status="failed ($(tail -n 1 "$WORK/output.txt"))"
    WALL="$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$WORK/time.txt")"
    local user system peak
    user="$(awk -F': ' '/User time \(seconds\)/ { print $2 }' "$WORK/time.txt")"
    system="$(awk -F': ' '/System time \(seconds\)/ { print $2 }' "$WORK/time.txt")"
    peak="$(awk -F': ' '/Maximum resident set size/ { printf "%.1f", $2 / 1024 }' "$WORK/time.txt")"
    printf '%-44s %8.2f s (user %6.2f s, system %5.2f s) %9s MB  %s\n' "$label" "$WALL" "$user" "$system" "$peak" \
        "$status"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.1fx", a / b; else print "-" }'; }

run() {
    local spectra="$1" peers="$2"
    local acquisition="$WORK/acquisition$spectra"
    "$BUILD/bench/make_acquisition" "$acquisition.raw" "$spectra" "$POINTS"
    ln -f "$acquisition.raw" "$acquisition.mzML" # the peers go by the extension
    echo
    echo "$spectra spectra x $POINTS points: $(du -m "$acquisition.raw" | cut -f1) MB of mzML"
    measure "this program: ConvertRawFile (batch)" "$BUILD/bench/bench_convert" "$acquisition.raw"
    local convert="$WALL"
    measure "this program: reader alone, every point" "$BUILD/bench/bench_reader" "$acquisition.raw"
    local reader="$WALL"
    cat "$WORK/output.txt"
    if [ "$peers" = yes ]; then
        measure "msconvert FILE --text" msconvert "$acquisition.mzML" --text -o "$WORK/msconvert"
        local msconvert="$WALL"
        measure "FileConverter -in FILE -out X.dta2d" FileConverter -in "$acquisition.mzML" -out "$WORK/X.dta2d"
        local openms="$WALL"
        echo "msconvert --text / this program's conversion: $(ratio "$msconvert" "$convert"), / reader alone: $(ratio "$msconvert" "$reader")"
        echo "FileConverter / this program's conversion:    $(ratio "$openms" "$convert"), / reader alone: $(ratio "$openms" "$reader")"
    fi
    rm -rf "$WORK"/acquisition* "$WORK/msconvert" "$WORK/X.dta2d"
}

run "$SPECTRA" yes
run "$LARGE" no

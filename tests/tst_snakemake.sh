#!/usr/bin/env bash
# The README's Snakemake recipe on a folder of each spelling the program
# reads and a truncated file, which fails without stopping the others and is
# named at the end.
#   tst_snakemake.sh PROGRAM SOURCE_DIR
set -euo pipefail
PROGRAM="$1" SOURCE="$2"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
# The demo's expected text: C number formats, creation time taken as UTC.
export LC_ALL=C.UTF-8 TZ=UTC

DEMO="$SOURCE/examples/demo.raw"
cp "$DEMO" "$WORK/a.raw"
cp "$DEMO" "$WORK/B.RAW"
cp "$DEMO" "$WORK/c.mzML"
gzip -c "$DEMO" >"$WORK/d.mzML.gz"
head -c "$(($(stat -c %s "$DEMO") / 2))" "$DEMO" >"$WORK/e.raw"

status=0
# No folder given: the current one.
(cd "$WORK" && snakemake --snakefile "$SOURCE/examples/Snakefile" --cores 5 --keep-going \
    --config program="$PROGRAM" >"$WORK/snakemake.log" 2>&1) || status=$?

fail() {
    echo "$*" >&2
    cat "$WORK/snakemake.log" >&2
    exit 1
}
[ "$status" -ne 0 ] || fail "snakemake succeeded despite the truncated file"
for name in a B c d; do
    cmp "$WORK/$name.asc" "$SOURCE/tests/expected/demo.asc" || fail "the .asc of $name differs"
done
[ ! -e "$WORK/e.asc" ] || fail "e.asc was left"
# The list comes after Snakemake's last word on the jobs.
[ "$(sed -n '/^Exiting because/,$ { /^Not converted:$/ { n; p } }' "$WORK/snakemake.log")" = "  e.raw" ] \
    || fail "e.raw is not named at the end"
echo "four files converted, the truncated one named"

#!/usr/bin/env bash
# The README's Snakemake recipe on a folder of each spelling the program
# reads, a truncated file, which fails without stopping the others, and a
# folder acquisition without its export: both are named at the end, the folder
# at the start too, and the folder alone still fails a run.
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
# Folder acquisitions: c.d is converted through c.mzML, f.d has no export.
mkdir "$WORK/c.d" "$WORK/f.d"
touch "$WORK/f.d/data.ms"
ADVICE="f.d is a folder acquisition; make its mzML export on the acquisition computer (msconvert f.d --mzML)"

# No folder given: the current one.
run() {
    status=0
    (cd "$WORK" && snakemake --snakefile "$SOURCE/examples/Snakefile" --cores 5 --keep-going \
        --config program="$PROGRAM" >"$WORK/snakemake.log" 2>&1) || status=$?
}
fail() {
    echo "$*" >&2
    cat "$WORK/snakemake.log" >&2
    exit 1
}
# The list at the end, after Snakemake's last word on the jobs.
listed() {
    sed -n '/^\(Exiting because\|Complete log\)/,$ { /^Not converted:$/,/^[^ ]/ s/^  //p }' "$WORK/snakemake.log"
}

run
[ "$status" -ne 0 ] || fail "snakemake succeeded despite the truncated file"
for name in a B c d; do
    cmp "$WORK/$name.asc" "$SOURCE/tests/expected/demo.asc" || fail "the .asc of $name differs"
done
[ ! -e "$WORK/e.asc" ] || fail "e.asc was left"
grep -qxF "Not converted: $ADVICE" "$WORK/snakemake.log" || fail "f.d is not named at the start"
[ "$(listed)" = "e.raw"$'\n'"$ADVICE" ] || fail "e.raw and f.d alone are not named at the end"

# Everything else converted: the folder still fails the run.
rm "$WORK/e.raw"
run
[ "$status" -ne 0 ] || fail "snakemake succeeded despite the folder acquisition"
[ "$(listed)" = "$ADVICE" ] || fail "f.d alone is not named at the end"
echo "four files converted, the truncated one and the folder named"

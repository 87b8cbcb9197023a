#!/usr/bin/env bash
# The README's folder recipe: GNU parallel converts three copies of the demo
# acquisition and a missing file at once. Every copy must give the expected
# .asc, the job log must record each run's exit status, and the runs' five-
# second waits must overlap.
#   tst_parallel.sh PROGRAM SOURCE_DIR
set -euo pipefail
PROGRAM="$1" SOURCE="$2"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
FOLDER="$WORK/runs"
LOG="$WORK/convert.log"
# The demo's expected text: C number formats, creation time taken as UTC.
export LC_ALL=C.UTF-8 TZ=UTC

mkdir "$FOLDER"
# Three copies, then a file that does not exist; Seq in the job log numbers
# the runs in this order.
INPUTS=()
for name in a b "c with blanks"; do
    cp "$SOURCE/examples/demo.raw" "$FOLDER/$name.raw"
    INPUTS+=("$FOLDER/$name.raw")
done
INPUTS+=("$FOLDER/missing.raw")

start=$SECONDS
status=0
parallel --will-cite --jobs 4 --joblog "$LOG" "$PROGRAM" ::: "${INPUTS[@]}" || status=$?
elapsed=$((SECONDS - start))

fail() {
    echo "$*" >&2
    cat "$LOG" >&2
    exit 1
}
# parallel's own status is the number of failed jobs.
[ "$status" -eq 1 ] || fail "parallel ended with $status, not 1"
for raw in "${INPUTS[@]:0:3}"; do
    cmp "${raw%.raw}.asc" "$SOURCE/tests/expected/demo.asc" || fail "the .asc of $raw differs"
done
[ ! -e "$FOLDER/missing.asc" ] || fail "missing.asc was written"

# The job log, tab-separated: Seq Host Starttime JobRuntime Send Receive
# Exitval Signal Command.
exitval() {
    awk -F'\t' -v seq="$1" 'NR > 1 && $1 == seq { print $7 }' "$LOG"
}
for seq in 1 2 3; do
    [ "$(exitval $seq)" = 0 ] || fail "the job log gives run $seq no exit status 0"
done
[ "$(exitval 4)" = 1 ] || fail "the job log gives the missing file no exit status 1"

# Overlap: every run started before the first one ended.
awk -F'\t' 'NR > 1 { if (NR == 2 || $3 > last) last = $3; if (NR == 2 || $3 + $4 < end) end = $3 + $4 }
    END { exit !(last < end) }' "$LOG" || fail "the runs did not overlap"
[ "$elapsed" -lt 12 ] || fail "four runs took $elapsed s; one alone waits 5 s"
echo "four runs in $elapsed s"

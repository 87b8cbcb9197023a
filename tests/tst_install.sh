#!/usr/bin/env bash
# Installs the build into a staging folder, as a package would, and checks
# what lands there: the program converts the demo acquisition, the desktop
# entry and the manual page pass their validators, the icon is in place.
#   tst_install.sh CMAKE BUILD_DIR SOURCE_DIR
set -euo pipefail
CMAKE="$1" BUILD="$2" SOURCE="$3"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
STAGE="$WORK/stage"
# The demo's expected text: C number formats, creation time taken as UTC.
export LC_ALL=C.UTF-8 TZ=UTC

DESTDIR="$STAGE" "$CMAKE" --install "$BUILD" --prefix /usr >/dev/null
PREFIX="$STAGE/usr"

cp "$SOURCE/examples/demo.raw" "$WORK/demo.raw"
"$PREFIX/bin/quorvane-to-text" "$WORK/demo.raw"
cmp "$WORK/demo.asc" "$SOURCE/tests/expected/demo.asc"

desktop-file-validate "$PREFIX/share/applications/quorvane-to-text.desktop"
test -s "$PREFIX/share/icons/hicolor/scalable/apps/quorvane-to-text.svg"
test -s "$PREFIX/share/doc/quorvane-to-text/README.md"
test -s "$PREFIX/share/doc/quorvane-to-text/examples/Snakefile"
# man succeeds despite warnings; any text it writes is one.
warnings="$(man --warnings -l "$PREFIX/share/man/man1/quorvane-to-text.1" 2>&1 >/dev/null)"
if [ -n "$warnings" ]; then
    echo "$warnings" >&2
    exit 1
fi
echo "installed and checked"

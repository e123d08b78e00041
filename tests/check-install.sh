#!/bin/sh
# Installs the build into a temporary prefix and checks that the installed D-Bus service file
# and desktop entry start the installed stand-in, not one under the configured prefix.
set -eu
build=$1
prefix=$(mktemp -d "${TMPDIR:-/tmp}/norvale-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
program="$prefix/bin/tarsk-standin"
test -x "$program" || { echo "not installed: $program"; exit 1; }
check() {
    file=$1 expected=$2
    test -f "$file" || { echo "not installed: $file"; exit 1; }
    line=$(grep '^Exec=' "$file")
    if [ "$line" != "Exec=$expected" ]; then
        echo "$file: $line"
        echo "expected: Exec=$expected"
        exit 1
    fi
}
check "$prefix/share/dbus-1/services/Tarsk.Document.service" "\"$program\" --automation"
check "$prefix/share/applications/Tarsk.Document.desktop" "\"$program\" %f"
echo "installed into $prefix: service and desktop entry start $program"

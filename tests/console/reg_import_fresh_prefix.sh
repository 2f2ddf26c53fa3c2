#!/usr/bin/env bash
# Imports a .reg file with `reg import` into a Wine prefix made for this run
# alone (a machine that never saw the source's registry), lists what the
# import left under KEY with `reg query KEY /s` into OUT, and removes the
# prefix again. Started by the console tests from inside Wine, which starts
# a Linux program but cannot wait for it: OUT.done appears last and holds
# the exit status. OUT.log has the steps' output.
# usage: reg_import_fresh_prefix.sh REGFILE KEY OUT
set -uo pipefail
reg=$1 key=$2 out=$3
exec >"$out.log" 2>&1 </dev/null
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/common.sh"
unset DISPLAY  # nothing to show: no window on the test run's X server

finish() {  # the .done file appears whole
  echo "$1" >"$out.done.part" && mv "$out.done.part" "$out.done"
  exit "$1"
}
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/portmeld-fresh-prefix.XXXXXX") || finish 1
export WINEPREFIX
status=1
if "$WINE" wineboot -i && "$WINE" reg import "Z:$reg" && "$WINE" reg query "$key" /s >"$out"; then
  status=0
fi
echo "steps ended with $status"
"$WINESERVER" -k || true
"$WINESERVER" -w || true
rm -rf "$WINEPREFIX"
finish "$status"

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
# Wine now and then fails to start one of its processes (see the retry in
# testing/e2e/driver.cpp); a failed round is made once more on a new prefix,
# and the log says which step failed.
status=1
for round in 1 2; do
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/portmeld-fresh-prefix.XXXXXX") || finish 1
  export WINEPREFIX
  step=wineboot
  if "$WINE" wineboot -i && step="reg import" && "$WINE" reg import "Z:$reg" &&
      step="reg query" && "$WINE" reg query "$key" /s >"$out"; then
    status=0
  fi
  "$WINESERVER" -k || true
  "$WINESERVER" -w || true
  rm -rf "$WINEPREFIX"
  [[ $status -eq 0 ]] && break
  echo "round $round: $step failed"
done
echo "steps ended with $status"
finish "$status"

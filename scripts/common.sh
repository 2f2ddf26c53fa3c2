# Shared by scripts/test and scripts/demo (sourced, not run).

WINE=/usr/lib/wine/wine64  # this kernel runs 64-bit Windows programs only
WINESERVER=/usr/lib/wine/wineserver
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko prompts

# The prefix settings every run needs: one virtual desktop (windows get
# captions, every launch shares it, exit codes are kept) and no crash
# dialog (a crash report goes to the program's output instead).
PREFIX_SETTINGS='REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="1024x768"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
'

xvfb_pid=""

# Starts a private X server on the first free display from :90 on and
# exports DISPLAY. Its output goes to the log: a background process that
# keeps the script's output open keeps the job that runs it from ending.
start_xvfb() {
  local log=$1 n
  for n in $(seq 90 199); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >"$log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
      if DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
        export DISPLAY=":$n"
        return 0
      fi
      kill -0 "$xvfb_pid" 2>/dev/null || break  # another server took the number first
      sleep 0.1
    done
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  done
  echo "no free X display for Xvfb (see $log)" >&2
  return 1
}

# Ends this prefix's Wine processes and our X server; used as the EXIT trap.
stop_bench() {
  if [[ -n ${WINEPREFIX:-} && -d $WINEPREFIX ]]; then "$WINESERVER" -k >/dev/null 2>&1 || true; fi
  if [[ -n $xvfb_pid ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  fi
}

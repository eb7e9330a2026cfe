#!/usr/bin/env bash
# Tests the Windows build under Wine and holds its results against the Linux build's:
#  1. the test programs (ctest in the Windows build folder, each run through Wine);
#  2. the installer: installs per user, quietly, and the installed copy runs on its own DLLs;
#  3. quarvelctl.exe --port sim writes the same coin data file as quarvelctl, to a file and to
#     standard output; files with either line ending read alike on both; a programming is
#     recorded in the history (the installed SQLite driver);
#  4. over a COM port: the Linux `quarvelctl simulate --pty` serves a selector, COM5 (and com12,
#     typed in lower case) lead to its pty; read, program --verify, teach --channel 2 and a teach
#     ended by Ctrl+C give what the Linux build gives against a simulator of its own;
#  5. quarvel.exe --simulator shows its main window under Xvfb (screenshot), and Exit keeps the
#     state file and settings in the user's application data folder;
#  6. the uninstaller removes the installed copy.
# Usage: scripts/windows-tests.sh [WINDOWS_BUILD [LINUX_BUILD]]   (build-windows, build)
# Files, the screenshot among them, stay in WINDOWS_BUILD/wine-tests/.
set -uo pipefail
cd "$(dirname "$0")/.."
win=$(realpath "${1:-build-windows}")
lin=$(realpath "${2:-build}")
linctl=$lin/cli/quarvelctl
out=$win/wine-tests
export WINEPREFIX=$win/wine-prefix WINEDEBUG=-all
run=$win/wine-run
for need in "$run" "$win/quarvelctl.exe" "$linctl"; do
  [ -x "$need" ] || { echo "windows-tests: $need is missing; build first (make windows, make build)" >&2; exit 1; }
done
setup=$(ls "$win"/quarvel-*-win64-setup.exe 2>/dev/null | head -n 1)
[ -n "$setup" ] || { echo "windows-tests: no installer in $win; run make windows" >&2; exit 1; }

rm -rf "$out" && mkdir -p "$out" && cd "$out" || exit 1
failures=0
pass() { echo "ok    $*"; }
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }
check() { # check WHAT COMMAND...: passes when the command succeeds
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
same() { cmp -s "$1" "$2"; }
quiet() { "$@" >/dev/null; }
started=()
stop_started() {
  local pid
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
}
trap stop_started EXIT

# A prefix of its own, made once: the first start of Wine takes some seconds.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$run" wineboot --init >/dev/null 2>&1
  wineserver -w
fi
user_dir=$WINEPREFIX/drive_c/users/$(id -un)
appdata=$user_dir/AppData/Local

# ----- 1. test programs -----
if ctest --test-dir "$win" -j 2 --timeout 300 --output-on-failure >ctest.log 2>&1; then
  pass "test programs: $(grep -E 'tests passed' ctest.log)"
else
  cat ctest.log
  fail "test programs"
fi

# ----- 2. installer -----
installed=$appdata/Programs/quarvel
"$run" "$setup" /S
wineserver -w
check "installer: per user into AppData\\Local\\Programs\\quarvel" \
  test -f "$installed/quarvel.exe" -a -f "$installed/quarvelctl.exe" -a -f "$installed/platforms/qwindows.dll"
check "installer: Start menu entry" \
  test -f "$user_dir/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/QUARVEL/QUARVEL.lnk"
# Only the DLLs beside it: what is missing from the deploy list fails here. A script rather than
# a function, so that a background run's process id is quarvelctl.exe's own (for Ctrl+C).
printf '#!/bin/sh\nWINEPATH= exec "%s" "%s" "$@"\n' "$run" "$installed/quarvelctl.exe" >ctl
chmod +x ctl
ctl=$out/ctl
ctl() { "$ctl" "$@"; }
check "installed quarvelctl.exe starts on its own DLLs" quiet ctl --version

# ----- 3. files -----
"$linctl" read --port sim -q -o sim-linux.cdt
ctl read --port sim -q -o sim-windows.cdt
check "read --port sim: the same file as on Linux (CR LF on both)" same sim-linux.cdt sim-windows.cdt
ctl read --port sim -q -o - >sim-stdout.cdt
check "read --port sim -o -: the same bytes on standard output" same sim-linux.cdt sim-stdout.cdt
tr -d '\r' <sim-linux.cdt >sim-lf.cdt
check "a file with LF line ends reads as the CR LF one on Windows" ctl diff sim-windows.cdt sim-lf.cdt
check "and on Linux" "$linctl" diff sim-windows.cdt sim-lf.cdt
ctl show sim-lf.cdt | tr -d '\r' >show-windows.txt
"$linctl" show sim-windows.cdt >show-linux.txt
check "show: the same settings on both" test -s show-linux.txt -a -z "$(cmp show-linux.txt show-windows.txt 2>&1)"
# The history: the installer's SQLite driver, the records in the user's data folder.
check "installer: the history's SQLite driver" test -f "$installed/sqldrivers/qsqlite.dll"
ctl history --json >history-before.json
ctl program --port sim -q sim-lf.cdt
ctl history --json | tr -d '\r' >history-after.json
check "history: program --port sim is recorded, verified, in AppData\\Local\\quarvel" \
  test "$(grep -c '"operation": "program"' history-after.json)" = "$(( $(grep -c '"operation": "program"' history-before.json) + 1 ))" \
  -a -f "$appdata/quarvel/history.sqlite" -a -n "$(grep -l '"completion": "verified"' history-after.json)"
ctl simulate --pty >/dev/null 2>pty-windows.err
code=$?
check "simulate --pty on Windows: exit 1, saying it needs a POSIX system" \
  test "$code" = 1 -a -n "$(grep -l 'needs a POSIX system' pty-windows.err)"

# ----- 4. a selector on a COM port -----
# One session per build, each against a fresh simulator (the same seed, so the same coins).
# PORTS prints the two names to use for the simulator's pty: a fixed one and one typed by hand.
serial_session() { # serial_session NAME PORTS COMMAND...
  local name=$1 ports=$2
  shift 2
  local dir=$name # relative: the same path for both builds
  mkdir -p "$dir"
  rm -f "$dir/coins" && mkfifo "$dir/coins"
  "$linctl" simulate --pty <"$dir/coins" >"$dir/sim.out" 2>"$dir/sim.err" &
  local sim=$!
  started+=("$sim")
  exec {feed}>"$dir/coins"
  local i port typed
  for i in $(seq 50); do [ -s "$dir/sim.out" ] && break; sleep 0.1; done
  read -r port typed < <("$ports" "$(head -n 1 "$dir/sim.out")")
  "$@" read --port "$port" -o "$dir/read.cdt" 2>"$dir/read.err"
  echo "read $?" >"$dir/results"
  # A changed price, programmed and verified, then read back by the name typed by hand.
  awk 'NR == 41 { $0 = "\"77\"\r" } 1' "$dir/read.cdt" >"$dir/program.cdt"
  "$@" program --port "$port" "$dir/program.cdt" --verify 2>"$dir/program.err"
  echo "program $? $(tail -n 1 "$dir/program.err" | tr -d '\r')" >>"$dir/results"
  "$@" read --port "$typed" -o "$dir/after.cdt" 2>/dev/null
  echo "read-typed $?" >>"$dir/results"
  echo "coin 2 x12" >&"$feed"
  "$@" teach --port "$port" --channel 2 -o "$dir/taught.cdt" >"$dir/teach.out" 2>"$dir/teach.err"
  echo "teach $? $(tr -d '\r' <"$dir/teach.out")" >>"$dir/results"
  # No coins this time: Ctrl+C (SIGINT, which Wine hands to the console control handler) ends it.
  "$@" teach --port "$port" --channel 2 -o "$dir/interrupted.cdt" >/dev/null 2>"$dir/interrupt.err" &
  local teach=$!
  sleep 3
  kill -INT "$teach"
  wait "$teach"
  echo "interrupted $? $(tail -n 1 "$dir/interrupt.err" | tr -d '\r')" >>"$dir/results"
  [ -e "$dir/interrupted.cdt" ] && echo "interrupted teach wrote its file" >>"$dir/results"
  exec {feed}>&-
  kill -TERM "$sim"
  wait "$sim"
  echo "simulator $(tail -n 1 "$dir/sim.out")" >>"$dir/results"
}
linux_ports() { echo "$1 $1"; }
windows_ports() {
  ln -sfn "$1" "$WINEPREFIX/dosdevices/com5"
  ln -sfn "$1" "$WINEPREFIX/dosdevices/com12"
  echo COM5 com12
}
serial_session linux linux_ports "$linctl"
serial_session windows windows_ports "$ctl"
check "COM5: read, program --verify, teach and Ctrl+C as on Linux" same linux/results windows/results
for f in read after taught; do
  check "COM5: $f.cdt as on Linux" same linux/$f.cdt windows/$f.cdt
done
check "COM5: program --verify verified" grep -q "^program 0 Programmed 184 cells; verified" windows/results
check "com12 typed in lower case opens \\\\.\\COM12" grep -q "^read-typed 0" windows/results
check "COM5: teach --channel 2 taught" grep -q "^teach 0 Sampling ok :" windows/results
check "COM5: Ctrl+C ends teach with 130 and writes nothing" \
  grep -qx "interrupted 130 Interrupted: channel 2 not taught; nothing was written" windows/results

# ----- 5. the desktop program, on one virtual screen -----
# The Wine server keeps the display its first window program found (none, for the console runs
# above): a new one starts on the virtual screen, and ends before it does.
wineserver -k 2>/dev/null
wineserver -w
printf 'wait frmMain\nclick ComExit\n' >exit.steps
cat >gui.sh <<GUI
# The main window painted: quarvel prints the clock at its first paint and leaves.
QUARVEL_EXIT_WHEN_SHOWN=1 "$run" "$installed/quarvel.exe" --simulator >shown.txt 2>/dev/null
# A screenshot once the screen holds the window (the bare root is one colour).
"$run" "$installed/quarvel.exe" --simulator >/dev/null 2>&1 &
for i in \$(seq 60); do
  sleep 1
  colours=\$(import -window root png:- 2>/dev/null | identify -format %k - 2>/dev/null)
  [ "\${colours:-0}" -gt 50 ] && break
done
sleep 2
import -window root quarvel-simulator.png
kill \$!
wait
# Exit writes the state file; closing the window saves its place.
"$run" "$installed/quarvel.exe" --simulator --script exit.steps >/dev/null 2>&1
echo \$? >exit.code
wineserver -k
GUI
WINEPATH= timeout 300 xvfb-run -a -s "-screen 0 1280x800x24" bash gui.sh
wineserver -w
check "quarvel.exe --simulator shows its main window" test -s shown.txt
check "screenshot $out/quarvel-simulator.png" test "$(identify -format %k quarvel-simulator.png 2>/dev/null)" -gt 50
check "Exit: exit code 0" test "$(cat exit.code)" = 0
check "state file in %LOCALAPPDATA%\\quarvel\\cmose.sys" test -f "$appdata/quarvel/cmose.sys"
check "settings in %LOCALAPPDATA%\\quarvel\\quarvel.ini" grep -q MainWidth "$appdata/quarvel/quarvel.ini"
check "nothing in C:\\ nor in the registry" \
  test ! -e "$WINEPREFIX/drive_c/cmose.sys" -a -z "$(grep -l MainWidth "$WINEPREFIX/user.reg")"

# ----- 6. uninstaller -----
"$run" "$installed/Uninstall.exe" /S
wineserver -w
check "uninstaller removes the installed copy" test ! -e "$installed/quarvelctl.exe"

echo
if [ "$failures" -gt 0 ]; then
  echo "windows-tests: $failures failed (files in $out)"
  exit 1
fi
echo "windows-tests: all passed (files in $out)"

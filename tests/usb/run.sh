#!/usr/bin/env bash
# make test-usb: the port tests on the Linux kernel's own FTDI driver. Virtual selectors serve
# ptys here, with wire timing; a QEMU guest (scripts/usb-guest.sh) runs tests/usb/guest.sh against
# them through emulated FTDI adapters A1, B2 and C3, which it plugs and pulls. What each test
# expects is what the same program does here over a pty (a twin selector), or a fixed text; the
# selectors' memories are read back here once the guest is gone.
#
#   tests/usb/run.sh BUILD [TEST]...     tests: ports exact unplug rename station desktop
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-build}")
shift || true
all=(ports exact unplug rename station desktop)
tests=("$@")
[ ${#tests[@]} -gt 0 ] || tests=("${all[@]}")
ctl=$build/cli/quarvelctl
work=$build/usb-tests
rm -rf "$work"
mkdir -p "$work"
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data

declare -A simPid simFd
cleanup() {
  for name in "${!simPid[@]}"; do kill "${simPid[$name]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# sim NAME [simulate options]: a virtual selector on a pty, with wire timing; its coin commands
# come through $work/NAME.in.
sim() {
  local name=$1 fd
  shift
  mkfifo "$work/$name.in"
  exec {fd}<>"$work/$name.in"
  simFd[$name]=$fd
  "$ctl" simulate --pty --wire-time --coin-interval 0 "$@" <"$work/$name.in" >"$work/$name.out" 2>"$work/$name.err" &
  simPid[$name]=$!
  for _ in $(seq 1 100); do [ -s "$work/$name.out" ] && break; sleep 0.05; done
  echo "$name=$(head -n 1 "$work/$name.out")" >>"$work/sims.env"
}
pty() { sed -n "s/^$1=//p" "$work/sims.env"; }
coins() { echo "$2" >&"${simFd[$1]}"; }
# memory NAME FILE: what the selector holds now, read over its pty.
memory() { "$ctl" read --port "$(pty "$1")" -o "$2" >/dev/null 2>&1; }
stopSim() { # then its summary is the last line of $work/NAME.out
  kill "${simPid[$1]}" && wait "${simPid[$1]}" || true
  unset "simPid[$1]"
}

# Two coin data files: one the selectors start from, one programmed into them (256 cells each).
cells() { awk -v a="$1" -v b="$2" 'BEGIN { for (k = 0; k < 256; ++k) printf "\"%d\"\r\n", (k * a + b) % 200 + 20 }'; }
cells 7 3 >"$work/start.cdt"
"$ctl" read --port sim --memory "$work/start.cdt" -o "$work/start-read.cdt" >/dev/null
"$ctl" read --port sim -o "$work/factory.cdt" >/dev/null
# A real image with every programmed cell changed (the identification cells are stamped or kept).
awk '{ k = NR - 1
  if (k >= 1 && k <= 188 && k != 85 && !(k >= 120 && k <= 127) && !(k >= 177 && k <= 182))
    printf "\"%d\"\r\n", (k * 11) % 200 + 30
  else print }' "$work/factory.cdt" >"$work/program.cdt"

for t in "${tests[@]}"; do
  case $t in
  ports) sim ports ;;
  exact)
    sim exact --memory "$work/start.cdt"
    sim exactTwin --memory "$work/start.cdt"
    coins exact "coin 3 x12"
    coins exactTwin "coin 3 x12"
    # The twin does here over a pty what the guest does over the adapter.
    p=$(pty exactTwin)
    "$ctl" read --port "$p" -o "$work/twin-read.cdt" >/dev/null 2>&1
    "$ctl" program --port "$p" "$work/program.cdt" >"$work/twin-program.txt" 2>&1
    "$ctl" teach --port "$p" --channel 3 -o "$work/twin-taught.cdt" >"$work/twin-teach.txt" 2>/dev/null
    memory exactTwin "$work/twin-after.cdt"
    ;;
  unplug) sim unplug --memory "$work/start.cdt" ;;
  rename)
    sim renameA
    sim renameB --memory "$work/start.cdt"
    sim renameNext
    ;;
  station) sim station1 && sim station2 && sim station3 ;;
  desktop)
    sim desktopA
    sim desktopB --memory "$work/start.cdt"
    ;;
  *) echo "test-usb: no test '$t' (${all[*]})" >&2; exit 2 ;;
  esac
done
# The memory a selector holds after programming, as a pty line leaves it, from the factory's
# memory and from the start file's (its serial number cells are never programmed).
sim twinProgrammed
"$ctl" program --port "$(pty twinProgrammed)" "$work/program.cdt" >/dev/null 2>&1
memory twinProgrammed "$work/programmed.cdt"
sim twinProgrammedStart --memory "$work/start.cdt"
"$ctl" program --port "$(pty twinProgrammedStart)" "$work/program.cdt" >/dev/null 2>&1
memory twinProgrammedStart "$work/programmed-start.cdt"

echo "test-usb: guest starting ($(date +%T))"
rc=0
"$here/../../scripts/usb-guest.sh" --share "$work" --adapter A1 --adapter B2 --adapter C3 -- \
  env BUILD="$build" WORK="$work" bash "$here/guest.sh" "${tests[@]}" || rc=$?

# Here, after the guest: the selectors' memories and what they were sent.
failed=0
check() { # check NAME CONDITION...
  local name=$1
  shift
  if "$@"; then echo "host: ok $name"; else echo "host: FAIL $name" >&2; failed=1; fi
}
same() { cmp -s "$1" "$2"; }
for t in "${tests[@]}"; do
  case $t in
  exact)
    memory exact "$work/exact-after.cdt"
    check "exact: the selector holds what the twin holds after read, program and teach" \
      same "$work/exact-after.cdt" "$work/twin-after.cdt"
    ;;
  unplug)
    memory unplug "$work/unplug-after.cdt"
    check "unplug: programmed again after the cut, the selector holds the file's programming" \
      same "$work/unplug-after.cdt" "$work/programmed-start.cdt"
    ;;
  rename)
    memory renameB "$work/renameB-after.cdt"
    check "rename: the other adapter's selector is untouched" same "$work/renameB-after.cdt" "$work/start-read.cdt"
    stopSim renameB
    summary=$(tail -n 1 "$work/renameB.out")
    # The one read of it is the check's own, just above.
    check "rename: the other adapter's selector was never asked anything ($summary)" \
      grep -q "^frames 189: reads 189, writes 0," <<<"$summary"
    memory renameNext "$work/renameNext-after.cdt"
    check "rename: the selector put on the adapter found on ttyUSB1 is programmed" \
      same "$work/renameNext-after.cdt" "$work/programmed.cdt"
    ;;
  desktop)
    stopSim desktopB
    summary=$(tail -n 1 "$work/desktopB.out")
    check "desktop: the other adapter's selector was never asked anything ($summary)" grep -q "^frames 0:" <<<"$summary"
    ;;
  station)
    for n in 1 2 3; do
      memory "station$n" "$work/station$n-after.cdt"
      check "station: selector $n programmed" same "$work/station$n-after.cdt" "$work/programmed.cdt"
    done
    ;;
  esac
done
[ -f "$work/guest-failed" ] && failed=1
[ "$rc" -eq 0 ] || { echo "test-usb: the guest's tests ended with $rc" >&2; failed=1; }
[ $failed -eq 0 ] && echo "test-usb: all passed" || echo "test-usb: FAILED (files in $work)" >&2
exit $failed

#!/usr/bin/env bash
# The USB port tests, run in the guest by tests/usb/run.sh: quarvelctl and quarvel on the kernel's
# ftdi_sio driver. Adapters A1, B2 and C3 start unplugged; `usb-adapter plug A1 PTY` puts one in
# with a selector behind it. Each test prints its time; a failed check names itself.
set -uo pipefail
ctl=$BUILD/cli/quarvelctl
quarvel=$BUILD/app/quarvel
sims=$WORK/sims.env
failures=0
export XDG_CONFIG_HOME=/tmp/config XDG_DATA_HOME=/tmp/data

pty() { sed -n "s/^$1=//p" "$sims"; }
fail() { echo "  FAIL $test: $*"; failures=$((failures + 1)); }
# expect WHAT ACTUAL EXPECTED
expect() { [ "$2" = "$3" ] || fail "$1: got '$2', expected '$3'"; }
has() { grep -qF -- "$2" "$1" || fail "$(basename "$1") does not say '$2': $(tail -n 3 "$1" | tr '\n' '|')"; }
hasNot() { ! grep -qF -- "$2" "$1" || fail "$(basename "$1") says '$2'"; }
same() { cmp -s "$1" "$2" || fail "$(basename "$1") differs from $(basename "$2")"; }
plug() { usb-adapter plug "$@" || fail "usb-adapter plug $* failed"; }
unplug() { usb-adapter unplug "$1" || fail "usb-adapter unplug $1 failed"; }
# waitFor FILE TEXT [SECONDS]: until FILE holds TEXT.
waitFor() {
  local until=$((SECONDS + ${3:-60}))
  while ! grep -qF -- "$2" "$1" 2>/dev/null; do
    [ $SECONDS -lt $until ] || { fail "no '$2' in $(basename "$1") in time"; return 1; }
    sleep 0.05
  done
}
# waitFrames FILE N: until a --trace run has sent N frames.
waitFrames() {
  local until=$((SECONDS + 60))
  while [ "$(grep -c ' -> ' "$1" 2>/dev/null)" -lt "$2" ]; do
    [ $SECONDS -lt $until ] || { fail "fewer than $2 frames in $(basename "$1")"; return 1; }
    sleep 0.05
  done
}
out() { echo "$WORK/guest-$test-$1"; }

test_ports() {
  local tty
  tty=$(plug A1 "$(pty ports)")
  expect "tty" "$tty" ttyUSB0
  "$ctl" ports >"$(out list)" 2>&1
  expect "ports exit code" $? 0
  # Name, description, manufacturer, USB vendor:product and serial number, as udev has them.
  grep -E '^ttyUSB0 ' "$(out list)" | tr -s ' ' >"$(out row)"
  expect "the adapter's row" "$(cat "$(out row)")" "ttyUSB0 QEMU USB SERIAL QEMU 0403:6001 A1"
  "$ctl" ports --json >"$(out json)" 2>&1
  has "$(out json)" '"path":"/dev/ttyUSB0",'
  has "$(out json)" '"vendorId":1027,"productId":24577,"usb":"0403:6001","serialNumber":"A1"}'
  unplug A1
  "$ctl" ports >"$(out gone)" 2>&1
  hasNot "$(out gone)" ttyUSB0
}

# Read, program and teach over the adapter give what they give over a pty.
test_exact() {
  plug A1 "$(pty exact)" >/dev/null
  local latency=/sys/bus/usb-serial/devices/ttyUSB0/latency_timer before seen
  before=$(cat $latency)
  "$ctl" read --port /dev/ttyUSB0 -o "$(out read.cdt)" --trace >"$(out read)" 2>&1 &
  local pid=$!
  seen=$before
  while kill -0 $pid 2>/dev/null; do
    local now
    now=$(cat $latency)
    [ "$now" != "$before" ] && seen=$now
    sleep 0.02
  done
  wait $pid
  expect "read exit code" $? 0
  has "$(out read)" "low latency: granted by the serial driver"
  expect "latency_timer while the port is open" "$seen" 1
  expect "latency_timer after the port is closed" "$(cat $latency)" "$before"
  same "$(out read.cdt)" "$WORK/twin-read.cdt"
  same "$(out read.cdt)" "$WORK/start-read.cdt"

  "$ctl" program --port /dev/ttyUSB0 "$WORK/program.cdt" >"$(out program)" 2>&1
  expect "program exit code" $? 0
  has "$(out program)" "Programmed 184 cells; verified"
  "$ctl" teach --port /dev/ttyUSB0 --channel 3 -o "$(out taught.cdt)" >"$(out teach)" 2>/dev/null
  expect "teach exit code" $? 0
  expect "teach's line" "$(grep 'Sampling ok' "$(out teach)")" "$(grep 'Sampling ok' "$WORK/twin-teach.txt")"
  same "$(out taught.cdt)" "$WORK/twin-taught.cdt"
  unplug A1
}

# Pulled in the middle of a read and of a programming run, put back 2 s later.
test_unplug() {
  plug A1 "$(pty unplug)" >/dev/null
  "$ctl" read --port /dev/ttyUSB0 -o "$(out read.cdt)" --trace >"$(out read)" 2>&1 &
  local pid=$!
  waitFrames "$(out read)" 60
  unplug A1
  wait $pid
  expect "read cut short: exit code" $? 2
  has "$(out read)" "The serial port /dev/ttyUSB0 was disconnected."
  has "$(out read)" "FAILED: The serial port /dev/ttyUSB0 was disconnected; nothing was saved"
  [ ! -e "$(out read.cdt)" ] || fail "a cut read wrote $(basename "$(out read.cdt)")"
  sleep 2
  expect "back under its name" "$(plug A1)" ttyUSB0
  "$ctl" ports >"$(out ports)" 2>&1
  expect "listed again by its serial number" "$(grep -E '^ttyUSB0 ' "$(out ports)" | awk '{ print $NF }')" A1
  "$ctl" read --port /dev/ttyUSB0 -o "$(out reread.cdt)" >"$(out reread)" 2>&1
  expect "read after the replug: exit code" $? 0
  same "$(out reread.cdt)" "$WORK/start-read.cdt"

  "$ctl" program --port /dev/ttyUSB0 "$WORK/program.cdt" --trace >"$(out program)" 2>&1 &
  pid=$!
  waitFrames "$(out program)" 120
  unplug A1
  wait $pid
  expect "programming cut short: exit code" $? 2
  grep -E "^FAILED: cells [0-9]+-188 not programmed \(port lost\); verify skipped$" "$(out program)" >/dev/null ||
    fail "the cut programming does not name the cells left: $(tail -n 1 "$(out program)")"
  sleep 2
  plug A1 >/dev/null
  "$ctl" program --port /dev/ttyUSB0 "$WORK/program.cdt" >"$(out reprogram)" 2>&1
  expect "programmed again: exit code" $? 0
  has "$(out reprogram)" "Programmed 184 cells; verified"
  unplug A1
}

# The adapter comes back as ttyUSB1, another one having taken ttyUSB0: a station finds it by its
# serial number and leaves the other alone.
test_rename() {
  plug A1 "$(pty renameA)" >/dev/null
  "$ctl" gang --wait --port /dev/ttyUSB0 "$WORK/program.cdt" --log "$(out log.csv)" >"$(out gang)" 2>"$(out status)" &
  local pid=$!
  waitFor "$(out gang)" "PASS /dev/ttyUSB0" 120
  unplug A1
  waitFor "$(out gang)" "LOST /dev/ttyUSB0"
  expect "the other adapter takes ttyUSB0" "$(plug B2 "$(pty renameB)")" ttyUSB0
  sleep 2
  # Another selector on the station's adapter, now ttyUSB1: it is programmed there.
  expect "the adapter comes back as" "$(plug A1 "$(pty renameNext)")" ttyUSB1
  local until=$((SECONDS + 120))
  while [ "$(grep -c '^PASS' "$(out gang)")" -lt 2 ]; do
    [ $SECONDS -lt $until ] || { fail "the selector on ttyUSB1 was not programmed"; break; }
    sleep 0.1
  done
  kill -INT $pid
  wait $pid
  expect "station exit code (a port was lost)" $? 2
  expect "selectors programmed" "$(grep -c '^PASS' "$(out gang)")" 2
  has "$(out log.csv)" "PORT LOST"
  unplug A1
  unplug B2
}

# Three adapters, three selectors; B2 pulled in the middle of its programming and put back.
test_station() {
  plug A1 "$(pty station1)" >/dev/null
  plug B2 "$(pty station2)" >/dev/null
  plug C3 "$(pty station3)" >/dev/null
  "$ctl" gang --wait --port /dev/ttyUSB0 --port /dev/ttyUSB1 --port /dev/ttyUSB2 "$WORK/program.cdt" \
    >"$(out gang)" 2>"$(out status)" &
  local pid=$!
  waitFor "$(out status)" "/dev/ttyUSB1  programming" 60 && sleep 1
  unplug B2
  waitFor "$(out gang)" "LOST /dev/ttyUSB1"
  sleep 2
  expect "B2 comes back as" "$(plug B2)" ttyUSB1
  local port
  for port in ttyUSB0 ttyUSB1 ttyUSB2; do waitFor "$(out gang)" "PASS /dev/$port" 120; done
  kill -INT $pid
  wait $pid
  expect "station exit code (a port was lost)" $? 2
  expect "PASS lines" "$(grep -c '^PASS' "$(out gang)")" 3
  grep -qE '^FAIL /dev/ttyUSB1  sn[0-9]+  cells [0-9]+-[0-9]+ not programmed \(port lost\)' "$(out gang)" ||
    fail "the pulled selector's FAIL line names no cells: $(grep '^FAIL' "$(out gang)")"
  unplug A1
  unplug B2
  unplug C3
}

# The desktop program reopens its adapter after an unplug, found by serial number on ttyUSB1.
test_desktop() {
  plug A1 "$(pty desktopA)" >/dev/null
  cat >"$(out script)" <<EOF
wait frmMain
click ComEdit
wait setting
wait-idle
grab frmMain $(out read.png)
wait-text frmMain Reconnected:
wait-idle
grab frmMain $(out back.png)
quit
EOF
  QT_QPA_PLATFORM=offscreen "$quarvel" --port /dev/ttyUSB0 --script "$(out script)" >"$(out log)" 2>&1 &
  local pid=$!
  local until=$((SECONDS + 60))
  until [ -s "$(out read.png.txt)" ] || [ $SECONDS -ge $until ]; do sleep 0.05; done
  [ -s "$(out read.png.txt)" ] || fail "quarvel did not read: $(tail -n 3 "$(out log)")"
  unplug A1
  plug B2 "$(pty desktopB)" >/dev/null
  sleep 2
  plug A1 >/dev/null
  wait $pid
  expect "quarvel exit code" $? 0
  # By its name now or by its by-id link, which udev may have made before it lists the serial.
  grep -qxE "Reconnected: (/dev/ttyUSB1|/dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_A1-if00-port0)" \
    "$(out back.png.txt)" || fail "no 'Reconnected:' to A1: $(grep -i connect "$(out back.png.txt)")"
  [ "$(readlink -f /dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_A1-if00-port0)" = /dev/ttyUSB1 ] ||
    fail "A1 is not ttyUSB1"
  unplug A1
  unplug B2
}

echo "guest: kernel $(uname -r), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2)"
for test in "$@"; do
  before=$failures
  start=$(date +%s.%N)
  "test_$test"
  took=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
  if [ $failures -eq $before ]; then
    printf 'guest: ok %s (%.1f s)\n' "$test" "$took"
  else
    printf 'guest: FAIL %s (%.1f s)\n' "$test" "$took"
  fi
done
[ $failures -eq 0 ] || touch "$WORK/guest-failed"
exit $((failures > 0))

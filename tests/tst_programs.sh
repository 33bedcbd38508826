#!/usr/bin/env bash
# Both programs as processes on an X server of their own, driven as an
# operator would with xdotool.
#   tst_programs.sh REAL_PROGRAM SIMULATED_PROGRAM
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || exit 77

work=$(mktemp -d)
trap 'kill $server 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 1
# A private runtime folder, so that Qt has nothing to warn about on stderr.
export XDG_RUNTIME_DIR="$work"

# Where this process may use the port, the real program starts and runs
# silently, and its refusal cannot be seen here.
timeout 10 env QT_QPA_PLATFORM=offscreen "$1" 2>said
[ $? = 124 ] && [ ! -s said ] && exit 77

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>display 2>/dev/null &
server=$!
for _ in $(seq 100); do
    [ -s display ] && break
    sleep 0.1
done
[ -s display ] || exit 77
export DISPLAY=":$(cat display)" QT_QPA_PLATFORM=xcb

# Refused the port: each way it tried on standard error and in a box that the
# operator answers, status 1, no choice saved.
timeout 30 "$1" 2>said &
box=$(timeout 15 xdotool search --sync --onlyvisible --name '^NUBTactile$' getwindowname \
    windowfocus --sync key Return 2>/dev/null)
wait $!
status=$?
[ $status = 1 ] && [ "$box" = NUBTactile ] && [ ! -e NUBTactile_pport.cfg ] &&
    grep -Pzq "^(can't open /dev/parport\d+|no parport device for 0x378).+\ncan't get IO permissions!: .+\nPARALLEL PORT NOT FOUND\n\$" said ||
    fail "status $status, box \"$box\": $(cat said)"

# Centred at 411 x 413 and named for its port. F2 picks LPT2, pin 0 is sent
# for 5 ms and traced, and Ctrl+Q saves the choice and ends with status 0.
timeout 30 "$2" 2>said &
eval "$(timeout 15 xdotool search --sync --onlyvisible --name '^NUBTactile \(simulated port\)$' \
    getwindowgeometry --shell windowfocus --sync key F2 Tab Tab Tab space \
    Tab Tab Tab Tab Tab Tab Tab Tab 5 Tab space sleep 0.3 windowfocus key ctrl+q 2>/dev/null)"
wait $! || fail "status $?: $(cat said)"
[ "$X $Y $WIDTH $HEIGHT $(cat NUBTactile_pport.cfg)" = "306 177 411 413 LPT2" ] ||
    fail "at $X $Y, $WIDTH x $HEIGHT, saved $(cat NUBTactile_pport.cfg)"
grep -Pzq '^ +[\d.]+  ⠁  0x01\n +[\d.]+  ⠀  0x00\n1 cell ' said || fail "$(cat said)"

# A rehearsal with a scanner: a pulse every 300 ms on pin 10, and the send
# (pin 0 for 500 ms on LPT2, logged for Ada Lovelace) waits for pulse 3. The trace
# shows the pulses before the cell, which rises on the third pulse since the
# press, and F6, pressed as a button on pin 11, is an answer with its
# reaction time in the events file, and letting it go another.
printf 'wait_for_pulse=yes\npulse_number=3\nanswer_pins=11\n' >NUBTactile_sync.cfg
timeout 30 "$2" --pulse-every 300 --pulse-pin 10 2>said &
timeout 15 xdotool search --sync --onlyvisible --name '^NUBTactile \(simulated port\)$' \
    windowfocus --sync type --delay 20 'Ada	Lovelace' 2>/dev/null
timeout 15 xdotool search --onlyvisible --name '^NUBTactile \(simulated port\)$' \
    windowfocus --sync key Tab Tab space Tab Tab Tab Tab Tab Tab Tab Tab 5 0 0 Tab space \
    2>/dev/null
# F6 once the cell is up, in its hold or the response window; Ctrl+Q once
# the send has summed itself up. Waited for, not slept: a loaded machine is slow.
timeout 15 sh -c 'until grep -q 0x01 said; do sleep 0.05; done'
xdotool key F6
timeout 15 sh -c 'until grep -q "^1 cell" said; do sleep 0.05; done'
xdotool search --onlyvisible --name '^NUBTactile \(simulated port\)$' windowfocus --sync \
    key ctrl+q 2>/dev/null
wait $! || fail "status $?: $(cat said)"
grep -Pzq '\n +[\d.]+  pin 10 high\n +[\d.]+  ⠁  0x01\n' said &&
    [ "$(sed '/0x01/q' said | grep -c 'pin 10 high')" -ge 3 ] || fail "$(cat said)"
grep -Pzq '^session_start,send_mode,event,pin,edge,number,time_ms,[^\n]+\n(.+\n){2}.+,single_shot,pulse,10,rising,3,0\.000,[\d.]+,,,,,LPT2: simulated port\n(.*\n)*.+,single_shot,answer,11,falling,1,[\d.]+,[\d.]+,[\d.]+,1,1,,LPT2: simulated port\n.+,single_shot,answer,11,rising,2,' \
    Ada_Lovelace.events.csv || fail "$(cat Ada_Lovelace.events.csv)"

# An option it does not know: the usage, status 2.
timeout 10 "$2" --pulse-every 5 2>said
[ $? = 2 ] && grep -q '^usage: nubtactile-sim \[--pulse-every MS' said || fail "$(cat said)"

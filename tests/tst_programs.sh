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

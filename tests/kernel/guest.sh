#!/usr/bin/env bash
# The guest part of `make test-kernel`, run as root inside the emulated PC by
# its init. Puts Linux's parport driver in each state the cases need and runs
# the real program there; each run leaves in a folder of the results its
# standard error, its status, the probe's traces and its files. It judges
# nothing: the host compares.
#   guest.sh RESULTS KERNEL
# RESULTS/setup names the program and the probe; KERNEL is the unpacked kernel
# package, whose modules are loaded from there.
set -u
results=$1
kernel=$2
# shellcheck source=/dev/null
. "$results/setup"

say() {
    echo "guest $(cut -d' ' -f1 /proc/uptime)s: $*"
}

modules() {
    modprobe -d "$kernel" "$@" || say "modprobe $* failed"
}

# What a lab PC's udev does, and devtmpfs does not.
lab_device_nodes() {
    for node in /dev/parport*; do
        chown root:lp "$node" && chmod 0660 "$node"
    done
}

# Who a run is; refusal and start_window take the name of one of these.
# shellcheck disable=SC2034
{
    lp_member=(setpriv --reuid=65534 --regid=65534 --groups=7)
    outsider=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    as_root=()
}

# Polls CONDITION (a command) for up to SECONDS; under emulation the program
# takes tens of seconds to start.
wait_for() {
    local seconds=$1
    shift
    local round
    for ((round = 0; round < seconds * 2; ++round)); do
        "$@" && return 0
        sleep 0.5
    done
    say "gave up waiting for: $*"
    return 1
}

# run_folder NAME USER: a fresh folder for one run, writable by USER, and a
# private runtime folder so that Qt has nothing to warn about on standard
# error.
run_folder() {
    local dir=$results/$1 uid=65534
    [ "$2" = as_root ] && uid=0
    mkdir -p "$dir" "/tmp/runtime-$1"
    chmod 0777 "$dir"
    chown "$uid" "/tmp/runtime-$1"
    chmod 0700 "/tmp/runtime-$1"
}

# refusal NAME USER: the program started offscreen, where a refusal is printed
# and ends it; kept on for 180 s at most, should it start instead.
refusal() {
    local name=$1 user=$2
    local dir=$results/$1
    local -n prefix=$user
    run_folder "$name" "$user"
    say "$name: starting as $user"
    (cd "$dir" && HOME=$dir XDG_RUNTIME_DIR=/tmp/runtime-$name QT_QPA_PLATFORM=offscreen \
        timeout 180 "${prefix[@]}" "$PROGRAM" 2>stderr >/dev/null </dev/null
     echo $? >status)
    say "$name: ended with status $(cat "$dir/status")"
}

probe_pid=
start_probe() {
    "$PROBE" >"$1" &
    probe_pid=$!
    wait_for 10 test -s "$1"
}

stop_probe() {
    kill -TERM "$probe_pid"
    wait "$probe_pid"
}

# has_rows CSV N: the timing file has N rows (or more) after its header.
has_rows() {
    [ -f "$1" ] && [ "$(($(wc -l <"$1") - 1))" -ge "$2" ]
}

# Types into the window in its Tab order, which starts at the first name:
# names, "Log this session" (left checked), the eight pins, the single shot's
# duration and button, then the four times, the loop count, the mode (Down
# picks "Text", which enables the word) and the word; Tab then reaches Send.
# Each cell is held 300 ms and followed by 300 ms, long beside the probe's
# round even on a busy emulator.
fill_text_send() {
    xdotool windowfocus --sync "$1" type --delay 50 Ada
    xdotool key Tab
    xdotool type --delay 50 Lovelace
    xdotool key --delay 50 Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab
    xdotool type --delay 50 300
    xdotool key Tab
    xdotool type --delay 50 300
    xdotool key Tab
    xdotool type --delay 50 300
    xdotool key Tab
    xdotool type --delay 50 300
    xdotool key Tab
    xdotool type --delay 50 1
    xdotool key --delay 50 Tab Down Tab
    xdotool type --delay 50 "$2"
    xdotool key Tab
}

# send_step DIR STEP WINDOW KEYS... ROWS: with a fresh probe trace STEP.probe,
# presses KEYS in the window and waits until the timing file has ROWS rows.
send_step() {
    local dir=$1 step=$2 window=$3
    shift 3
    local keys=("${@:1:$#-1}") total=${*:$#}
    say "$(basename "$dir"): $step"
    start_probe "$dir/$step.probe"
    xdotool windowfocus --sync "$window" key --delay 100 "${keys[@]}"
    wait_for 120 has_rows "$dir/Ada_Lovelace.timing.csv" "$total"
    stop_probe
}

# window NAME USER: starts the program on the X server and waits for its
# window; sets $window and $program_pid.
window=
program_pid=
start_window() {
    local name=$1 user=$2
    local dir=$results/$name
    local -n prefix=$user
    run_folder "$name" "$user"
    say "$name: starting as $user"
    (cd "$dir" && HOME=$dir XDG_RUNTIME_DIR=/tmp/runtime-$name QT_QPA_PLATFORM=xcb \
        exec "${prefix[@]}" "$PROGRAM" 2>stderr >/dev/null </dev/null) &
    program_pid=$!
    window=$(timeout 180 xdotool search --sync --onlyvisible --name '^NUBTactile$' | head -n 1)
    [ -n "$window" ] || say "$name: no window"
    grep -E '^(Uid|Gid|Groups):' "/proc/$program_pid/status" >"$dir/identity"
}

# The word "abc" from the window on LPT1, then on LPT2: a trigger and three
# cells each.
send_on_both_ports() {
    local dir=$1
    fill_text_send "$window" abc
    send_step "$dir" lpt1 "$window" F1 space 4
    send_step "$dir" lpt2 "$window" F2 space 8
}

window_with_devices() {
    local dir=$results/window-device
    start_window window-device lp_member
    send_on_both_ports "$dir"
    # Back on LPT1, pins 5 and 7 held for a minute from Send (focus) back
    # through the times to the single shot's duration: the signal comes in
    # the middle of that hold.
    say "window-device: term"
    start_probe "$dir/term.probe"
    xdotool windowfocus --sync "$window" key --delay 100 F1 \
        shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab
    xdotool type --delay 50 60000
    xdotool key --delay 100 shift+Tab space shift+Tab shift+Tab space Tab Tab Tab Tab space
    wait_for 30 grep -q ' 0x378 0xa0$' "$dir/term.probe"
    cp "$dir/term.probe" "$dir/term.at-signal"
    kill -TERM "$program_pid"
    wait "$program_pid"
    echo $? >"$dir/status"
    stop_probe
    say "window-device: ended with status $(cat "$dir/status")"
}

window_direct() {
    local dir=$results/window-direct
    start_window window-direct as_root
    send_on_both_ports "$dir"
    xdotool windowfocus --sync "$window" key ctrl+q
    wait "$program_pid"
    echo $? >"$dir/status"
    say "window-direct: ended with status $(cat "$dir/status")"
}

say "up"
export DISPLAY=:1
Xvfb :1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null &
wait_for 60 test -S /tmp/.X11-unix/X1

say "parport_pc and ppdev loaded, device nodes root:lp 0660"
modules parport_pc
modules ppdev
lab_device_nodes
window_with_devices

say "lp loaded: it holds both ports"
modules lp
refusal refused-lp lp_member &
held=$!
refusal refused-group outsider &
outside=$!
wait "$held" "$outside"

say "lp and ppdev unloaded"
modules -r lp ppdev
refusal refused-ppdev lp_member &
unloaded=$!
window_direct
wait "$unloaded"

say "parport_pc unloaded: no port at all"
modules -r parport_pc
refusal refused-noport lp_member
say "done"

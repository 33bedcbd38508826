#!/usr/bin/env bash
# `make test-kernel`: the real program on Linux's own parport driver, in an
# emulated PC with two ISA parallel ports (0x378 and 0x278). Boots Debian's
# kernel with the machine's root shared read-only, lets tests/kernel/guest.sh
# run the program in each state of the driver, then compares what it left:
# bytes, their order and their port, never durations (the emulator's clock
# says nothing about the program's timing).
#   run.sh BUILD_DIR
set -u
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$build/kernel-test
results=$work/results
program=$build/ui/nubtactile
probe=$build/tests/parport_probe
# A hang anywhere in the guest must end as a failure, well before CI's limit;
# a whole run takes two to three minutes.
boot_timeout=600

note() {
    echo "test-kernel: $*"
}

# As root, apt hands the download to its own user, who cannot write to the
# build folder: it would fall back with a warning that reads like a fault.
if [ "$(id -u)" -eq 0 ]; then
    sudo=()
    download=(apt-get download -q -o APT::Sandbox::User=root)
else
    sudo=(sudo)
    download=(apt-get download -q)
fi

# The kernel package that linux-image-amd64 stands for, unpacked in the build
# folder and never installed. The .deb goes once it is unpacked.
fetch_kernel() {
    compgen -G "$work/kernel/boot/vmlinuz-*" >/dev/null && return 0
    local package
    package=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ { print $2; exit }')
    if [ -z "$package" ]; then
        "${sudo[@]}" apt-get update -qq
        package=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-/ { print $2; exit }')
    fi
    [ -n "$package" ] || { note "no kernel package behind linux-image-amd64"; return 1; }
    note "fetching $package"
    rm -rf "$work/kernel" "$work"/*.deb
    (cd "$work" && "${download[@]}" "$package") &&
        dpkg-deb -x "$work/${package}"_*.deb "$work/kernel" &&
        rm -f "$work/${package}"_*.deb &&
        depmod -b "$work/kernel" "$(ls "$work/kernel/lib/modules")"
}

# Busybox, the modules that reach the host's root over 9p, and our init.
make_initramfs() {
    local tree=$work/initramfs modules
    modules=$work/kernel/lib/modules/$(ls "$work/kernel/lib/modules")
    rm -rf "$tree"
    mkdir -p "$tree"/{bin,modules,proc,dev,newroot}
    cp /bin/busybox "$tree/bin/"
    cp "$here/init" "$tree/init"
    local module
    for module in virtio_ring virtio virtio_pci_legacy_dev virtio_pci_modern_dev virtio_pci \
                  netfs fscache 9pnet 9pnet_virtio 9p; do
        find "$modules" -name "$module.ko" -exec cp {} "$tree/modules/" \;
    done
    (cd "$tree" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initramfs.gz"
}

boot() {
    rm -rf "$results"
    mkdir -p "$results"
    printf 'PROGRAM=%q\nPROBE=%q\n' "$program" "$probe" >"$results/setup"
    note "booting $(basename "$work"/kernel/boot/vmlinuz-*) under emulation"
    timeout "$boot_timeout" qemu-system-x86_64 -accel tcg -smp 2 -m 2048 \
        -nographic -no-reboot -nic none \
        -kernel "$(echo "$work"/kernel/boot/vmlinuz-*)" -initrd "$work/initramfs.gz" \
        -append "console=ttyS0 quiet panic=-1 nubtest=$here/guest.sh:$results:$work/kernel:$here:$build" \
        -parallel file:/dev/null -parallel file:/dev/null \
        -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
        -virtfs "local,path=$here,mount_tag=scripts,security_model=none,readonly=on,multidevs=remap" \
        -virtfs "local,path=$build,mount_tag=build,security_model=none,readonly=on,multidevs=remap" \
        -virtfs "local,path=$results,mount_tag=results,security_model=none,multidevs=remap" \
        </dev/null 2>&1 | sed -u 's/\x1b\[[0-9;?]*[a-zA-Z]//g; s/\x1bc//g' | tee "$work/console.log"
    local status=${PIPESTATUS[0]}
    [ "$status" = 124 ] && note "the guest did not end within $boot_timeout s"
    return "$status"
}

# --- What a run left ---

# The bytes raised on PORT in a probe trace, in order, in hex: every change to
# a value other than 0. The trace's first line for a port is the value it held
# when the probe started, not a change.
raised() {
    awk -v port="$2" '$2 == port { if (seen++ && $3 != "0x00") { printf "%s%s", sep, substr($3, 3); sep = " " } }' "$1" 2>/dev/null
}

changes() {
    awk -v port="$2" '$2 == port { n++ } END { print (n > 0 ? n - 1 : 0) }' "$1" 2>/dev/null
}

last_value() {
    awk -v port="$2" '$2 == port { v = $3 } END { print v }' "$1" 2>/dev/null
}

# Column NAME of the timing file's rows from send number SEND (counted by
# their session_start), one value a line.
column() {
    awk -F, -v name="$2" -v send="$3" '
        NR == 1 { for (i = 1; i <= NF; ++i) at[$i] = i; next }
        $1 != previous { previous = $1; ++sends }
        sends == send && (name in at) { print $at[name] }' "$1" 2>/dev/null
}

hex_bytes() {
    local sep="" byte
    while read -r byte; do
        printf '%s%02x' "$sep" "$byte"
        sep=" "
    done
}

# --- The checks; each prints what it compared and fails on a difference ---

# check_send RUN STEP SEND PORT OTHER PORT_TEXT: in the trace of STEP, the
# bytes raised on PORT are the timing file's data_byte column for SEND, in
# order; OTHER does not change; every row of SEND names PORT_TEXT.
check_send() {
    local dir=$results/$1 step=$2 send=$3 port=$4 other=$5 expected=$6
    local trace=$dir/$step.probe csv=$dir/Ada_Lovelace.timing.csv
    local on_port logged other_changes texts
    on_port=$(raised "$trace" "$port")
    logged=$(column "$csv" data_byte "$send" | hex_bytes)
    other_changes=$(changes "$trace" "$other")
    texts=$(column "$csv" port "$send" | sort -u)
    echo "    raised on $port: [$on_port]; data_byte of send $send: [$logged]"
    echo "    changes on $other: $other_changes; port column: [${texts//$'\n'/|}], expected [$expected]"
    [ -n "$logged" ] && [ "$on_port" = "$logged" ] && [ "$other_changes" = 0 ] &&
        [ "$texts" = "$expected" ]
}

# check_refusal RUN FIRST_LINE: standard error is FIRST_LINE and the two lines
# that follow every refusal here, and nothing else; status 1.
check_refusal() {
    local dir=$results/$1 first=$2
    local expected said status
    expected=$(printf '%s\n' "$first" "can't get IO permissions!: Operation not permitted" \
        "PARALLEL PORT NOT FOUND")
    said=$(cat "$dir/stderr" 2>/dev/null)
    status=$(cat "$dir/status" 2>/dev/null)
    echo "    status $status, expected 1; standard error:"
    sed 's/^/      | /' "$dir/stderr" 2>/dev/null
    [ "$status" = 1 ] && [ "$said" = "$expected" ] && return 0
    echo "    expected:"
    printf '%s\n' "$expected" | sed 's/^/      | /'
    return 1
}

# check_unprivileged RUN STEP PORT: the run was a member of lp without root
# (uid and gid 65534, supplementary group 7 only), and its bytes reached PORT.
check_unprivileged() {
    local dir=$results/$1 step=$2 port=$3
    local identity on_port
    identity=$(tr -s '\t ' ' ' <"$dir/identity" 2>/dev/null | tr '\n' ';')
    on_port=$(raised "$dir/$step.probe" "$port")
    echo "    identity: $identity raised on $port: [$on_port]"
    [ "$identity" = "Uid: 65534 65534 65534 65534;Gid: 65534 65534 65534 65534;Groups: 7 ;" ] &&
        [ -n "$on_port" ]
}

# check_terminated RUN STEP PORT BYTE STATUS: PORT held BYTE when the signal
# was sent (the trace as it stood then is STEP.at-signal), the program ended
# with STATUS (128 + the signal), and PORT read 0 once it had ended.
check_terminated() {
    local dir=$results/$1 step=$2 port=$3 byte=$4 expected=$5
    local held final status
    held=$(last_value "$dir/$step.at-signal" "$port")
    final=$(last_value "$dir/$step.probe" "$port")
    status=$(cat "$dir/status" 2>/dev/null)
    echo "    $port held $held when signalled, expected 0x$byte; held $final after the end," \
         "expected 0x00; status $status, expected $expected"
    [ "$held" = "0x$byte" ] && [ "$final" = 0x00 ] && [ "$status" = "$expected" ]
}

# --- The cases: name | check and its arguments (separated by ;) ---
cases=(
    "LPT1 (F1) from the window: the word's bytes on 0x378, nothing on 0x278|check_send;window-device;lpt1;1;0x378;0x278;LPT1: /dev/parport1 at 0x378"
    "LPT2 (F2) from the window: the word's bytes on 0x278, nothing on 0x378|check_send;window-device;lpt2;2;0x278;0x378;LPT2: /dev/parport0 at 0x278"
    "a member of lp, without root, sends through the device|check_unprivileged;window-device;lpt1;0x378"
    "SIGTERM in the middle of a one-minute hold lowers the lines|check_terminated;window-device;term;0x378;a0;143"
    "refused: ppdev not loaded|check_refusal;refused-ppdev;can't open /dev/parport1: No such file or directory (no such port, or the ppdev driver is not loaded: sudo modprobe ppdev)"
    "refused: lp holds the port|check_refusal;refused-lp;can't open /dev/parport1: No such device or address (another program, possibly another NUBTactile, or the printer driver lp holds the port)"
    "refused: a user outside group lp|check_refusal;refused-group;can't open /dev/parport1: Permission denied (the user must be in group lp)"
    "refused: no port at all|check_refusal;refused-noport;no parport device for 0x378 (the kernel lists no parallel port)"
    "root without ppdev: LPT1 by direct I/O at 0x378|check_send;window-direct;lpt1;1;0x378;0x278;LPT1: direct I/O at 0x378"
    "root without ppdev: LPT2 by direct I/O at 0x278|check_send;window-direct;lpt2;2;0x278;0x378;LPT2: direct I/O at 0x278"
)

mkdir -p "$work"
fetch_kernel || exit 1
make_initramfs || exit 1
started=$SECONDS
boot
booted=$?
note "the guest ran for $((SECONDS - started)) s"

passed=0
failed=0
for case in "${cases[@]}"; do
    IFS=';' read -r -a check <<<"${case#*|}"
    echo "case: ${case%%|*}"
    if "${check[@]}"; then
        echo "  PASS"
        passed=$((passed + 1))
    else
        echo "  FAIL"
        failed=$((failed + 1))
    fi
done
echo "$passed passed, $failed failed"
# Cases may pass on what a guest left before it hung: the hang fails the run.
[ "$booted" = 0 ] || note "the emulator ended with status $booted"
[ "$failed" = 0 ] && [ "$booted" = 0 ]

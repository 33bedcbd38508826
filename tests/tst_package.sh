#!/usr/bin/env bash
# The Debian package of this build: what it holds, its menu entries and manual
# pages, and that the simulated program unpacked from it starts, shows its
# window and ends by SIGTERM. Nothing is installed on this machine.
#   tst_package.sh PACKAGE_STEM BUILT_PROGRAM
# PACKAGE_STEM is the package's path without "_<arch>.deb"; a package missing
# or older than BUILT_PROGRAM skips the test (`make package` builds it).
set -euo pipefail

deb="$1_$(dpkg --print-architecture).deb"
if [ ! -f "$deb" ] || [ "$2" -nt "$deb" ]; then
    echo "SKIP: $deb is missing or older than the build; run make package" >&2
    exit 77
fi

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

tmp=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do
        kill -KILL "$p" 2>/dev/null && wait "$p" 2>/dev/null || true
    done
    rm -rf "$tmp"
}
trap cleanup EXIT

listing=$(dpkg-deb -c "$deb")
for path in usr/bin/nubtactile usr/bin/nubtactile-sim \
    usr/share/applications/nubtactile.desktop usr/share/applications/nubtactile-sim.desktop \
    usr/share/icons/hicolor/{48x48,128x128,256x256}/apps/nubtactile.png \
    usr/share/man/man1/nubtactile.1.gz usr/share/man/man1/nubtactile-sim.1.gz \
    usr/share/doc/nubtactile/copyright; do
    grep -q " \./$path\$" <<<"$listing" || fail "the package lacks /$path"
done

root="$tmp/root"
dpkg-deb -x "$deb" "$root"

# An entry must validate and start a program and show an icon of the package.
for entry in "$root"/usr/share/applications/*.desktop; do
    said=$(desktop-file-validate --no-hints "$entry" 2>&1) && [ -z "$said" ] || fail "$said"
    exec=$(sed -n 's/^Exec=//p' "$entry")
    icon=$(sed -n 's/^Icon=//p' "$entry")
    [ -x "$root/usr/bin/$exec" ] || fail "$entry starts $exec, which the package lacks"
    [ -f "$root/usr/share/icons/hicolor/48x48/apps/$icon.png" ] || fail "$entry shows icon $icon, which the package lacks"
done
grep -qx 'Name=NUBTactile (simulated port)' "$root/usr/share/applications/nubtactile-sim.desktop" ||
    fail "the simulated program's menu entry does not say so"

for page in "$root"/usr/share/man/man1/*.1.gz; do
    said=$(zcat "$page" | groff -man -Tutf8 -ww -z 2>&1) && [ -z "$said" ] || fail "$page: $said"
done

# The unpacked simulated program, in an empty working directory, on an X
# server of its own when there is one, else offscreen.
work="$tmp/work"
mkdir "$work"
platform=offscreen
display=
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>/dev/null &
    pids+=($!)
    for _ in $(seq 100); do
        [ -s "$tmp/display" ] && break
        sleep 0.05
    done
    [ -s "$tmp/display" ] || fail "Xvfb did not start"
    platform=xcb
    display=":$(cat "$tmp/display")"
fi
(cd "$work" && XDG_RUNTIME_DIR="$tmp" QT_QPA_PLATFORM=$platform DISPLAY=$display \
    exec "$root/usr/bin/nubtactile-sim") 2>"$tmp/stderr" &
pid=$!
pids+=($pid)
# Up to 15 s for the window; offscreen nothing can be seen, and a second of
# life stands for it.
deadline=$((SECONDS + 15))
while :; do
    shown=0
    if [ $platform = xcb ]; then
        DISPLAY=$display xdotool search --all --onlyvisible --pid "$pid" --name '^NUBTactile' \
            >/dev/null && shown=1
    else
        sleep 1
        shown=1
    fi
    kill -0 "$pid" 2>/dev/null || fail "the program ended by itself: $(cat "$tmp/stderr")"
    [ $shown = 1 ] && break
    [ $SECONDS -lt $deadline ] || fail "no window in 15 s: $(cat "$tmp/stderr")"
    sleep 0.1
done
kill -TERM "$pid"
for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
done
kill -0 "$pid" 2>/dev/null && fail "the program outlived SIGTERM by 5 s"
status=0
wait "$pid" || status=$?
[ $status -eq $((128 + 15)) ] || fail "the program ended with status $status, not by SIGTERM: $(cat "$tmp/stderr")"
echo "PASS: $deb"

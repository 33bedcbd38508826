#!/usr/bin/env bash
# The Debian package of this build: what it holds, what it sets up on the
# machine, its menu entries and manual pages, and that the simulated program unpacked from it starts and ends by
# SIGTERM. Nothing is installed on this machine.
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
trap 'rm -rf "$tmp"' EXIT

listing=$(dpkg-deb -c "$deb")
for path in usr/bin/nubtactile usr/bin/nubtactile-sim \
    usr/share/applications/nubtactile.desktop usr/share/applications/nubtactile-sim.desktop \
    usr/share/icons/hicolor/{48x48,128x128,256x256}/apps/nubtactile.png \
    usr/share/man/man1/nubtactile.1.gz usr/share/man/man1/nubtactile-sim.1.gz \
    usr/share/doc/nubtactile/copyright \
    usr/lib/modules-load.d/nubtactile.conf etc/security/limits.d/nubtactile.conf; do
    grep -q " \./$path\$" <<<"$listing" || fail "the package lacks /$path"
done
# Files and folders belong to root, and nothing is writable but by it.
bad=$(awk '$2 != "root/root" || ($1 !~ /^l/ && $1 ~ /^.....w|^........w/)' <<<"$listing")
[ -z "$bad" ] || fail "owned or writable amiss: $bad"

root="$tmp/root"
dpkg-deb -x "$deb" "$root"
control="$tmp/control"
dpkg-deb -e "$deb" "$control"

# The driver at every boot, and the lowest real-time priority for group lp.
[ "$(cat "$root/usr/lib/modules-load.d/nubtactile.conf")" = ppdev ] ||
    fail "the modules-load.d entry does not load exactly ppdev"
[ "$(cat "$root/etc/security/limits.d/nubtactile.conf")" = '@lp - rtprio 1' ] ||
    fail "the limits.d entry does not grant exactly rtprio 1 to group lp"
# Every file under /etc is a conffile, or an upgrade would overwrite the
# administrator's edit.
shipped=$(cd "$root" && find etc -type f | sed 's,^,/,' | sort)
[ "$shipped" = "$(sort "$control/conffiles")" ] ||
    fail "conffiles list [$(cat "$control/conffiles")], the package ships [$shipped] under /etc"
# Installing loads the driver at once, and a machine that cannot load it
# still installs.
mkdir "$tmp/bin"
for outcome in 0 1; do
    printf '#!/bin/sh\necho "$*" >>"%s"\nexit %s\n' "$tmp/modprobe.log" $outcome >"$tmp/bin/modprobe"
    chmod +x "$tmp/bin/modprobe"
    PATH="$tmp/bin:$PATH" "$control/postinst" configure ||
        fail "postinst failed where modprobe ends with status $outcome"
done
[ "$(cat "$tmp/modprobe.log")" = $'ppdev\nppdev' ] || fail "postinst ran modprobe $(cat "$tmp/modprobe.log")"

# An entry must validate without a hint (two main categories show it twice in
# a menu) and start a program and show an icon of the package. The real
# program is a laboratory instrument; the simulated one serves training.
for entry in "$root"/usr/share/applications/*.desktop; do
    said=$(desktop-file-validate "$entry" 2>&1) && [ -z "$said" ] || fail "$said"
    exec=$(sed -n 's/^Exec=//p' "$entry")
    icon=$(sed -n 's/^Icon=//p' "$entry")
    [ -x "$root/usr/bin/$exec" ] || fail "$entry starts $exec, which the package lacks"
    [ -f "$root/usr/share/icons/hicolor/48x48/apps/$icon.png" ] || fail "$entry shows icon $icon, which the package lacks"
done
grep -qx 'Name=NUBTactile (simulated port)' "$root/usr/share/applications/nubtactile-sim.desktop" ||
    fail "the simulated program's menu entry does not say so"
for main in nubtactile:Science nubtactile-sim:Education; do
    grep -q "^Categories=${main#*:};" "$root/usr/share/applications/${main%:*}.desktop" ||
        fail "${main%:*}.desktop is not listed under ${main#*:}"
done

for page in "$root"/usr/share/man/man1/*.1.gz; do
    said=$(zcat "$page" | groff -man -Tutf8 -ww -z 2>&1) && [ -z "$said" ] || fail "$page: $said"
done

# The unpacked simulated program, in an empty working directory, must live
# until SIGTERM ends it: a missing library or a crash at start ends it sooner.
# Its window under X is the program test's concern.
mkdir "$tmp/work"
status=0
(cd "$tmp/work" && XDG_RUNTIME_DIR="$tmp" QT_QPA_PLATFORM=offscreen \
    exec timeout --preserve-status 3 "$root/usr/bin/nubtactile-sim") 2>"$tmp/stderr" || status=$?
[ $status -eq $((128 + 15)) ] || fail "the program ended with status $status, not by SIGTERM: $(cat "$tmp/stderr")"
echo "PASS: $deb"

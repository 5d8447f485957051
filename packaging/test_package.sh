#!/usr/bin/env bash
# Unpacks a Vistrel .deb into a scratch root and checks that what a desktop needs is in place and
# that every program runs from there: each one's --help, the man pages, the desktop files, the
# MIME type and the icons. Then, as root, runs the package's own postinst on the unpacked files
# and checks that an ordinary user (nobody) starts picrx on port 999 and tonebox on 998.
#   packaging/test_package.sh PACKAGE.deb
set -euo pipefail
deb=$1
work=$(mktemp -d)
root=$work/root
control=$work/control
background=()  # process groups of programs started here, ended on the way out
cleanup() {
    for pid in "${background[@]}"; do kill -- -"$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"  # the unprivileged user runs the programs from here
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$control"

failed=0
check() {  # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@" >/dev/null 2>&1; then
        echo "ok      $what"
    else
        echo "FAILED  $what" >&2
        failed=1
    fi
}

[ "$(dpkg-deb -f "$deb" Section)" = hamradio ] || { echo "FAILED  section is not hamradio" >&2; failed=1; }
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libavcodec59 libcap2-bin libportaudio2 libhamlib4; do
    case "$depends" in *"$lib"*) echo "ok      depends on $lib" ;;
        *) echo "FAILED  Depends lacks $lib: $depends" >&2; failed=1 ;; esac
done

for program in pictx picrx movieplay tonebox vistrel; do
    check "$program --help" env QT_QPA_PLATFORM=offscreen "$root/usr/bin/$program" --help
    check "man page $program(1)" test -s "$root/usr/share/man/man1/$program.1.gz"
done
for app in pictx picrx movieplay tonebox; do
    desktop=$root/usr/share/applications/$app.desktop
    check "$app.desktop in Network;HamRadio;" grep -qx 'Categories=Network;HamRadio;' "$desktop"
    if command -v desktop-file-validate >/dev/null; then
        check "$app.desktop validates" desktop-file-validate "$desktop"
    fi
done
# The modem's entry opens its window, never a terminal's status line.
check "tonebox.desktop opens the window" \
    grep -qx 'Exec=tonebox --window' "$root/usr/share/applications/tonebox.desktop"
check "... without a terminal" \
    grep -qx 'Terminal=false' "$root/usr/share/applications/tonebox.desktop"
check "movieplay opens application/x-vistrel-movie" \
    grep -q 'MimeType=application/x-vistrel-movie;' "$root/usr/share/applications/movieplay.desktop"
check "MIME type *.tv" grep -q 'glob pattern="\*.tv"' "$root/usr/share/mime/packages/vistrel-movie.xml"
for side in 16 32 48 256; do
    check "icon ${side}x$side" test -s "$root/usr/share/icons/hicolor/${side}x$side/apps/vistrel.png"
done
check "scalable icon" test -s "$root/usr/share/icons/hicolor/scalable/apps/vistrel.svg"
check "man vistrel reads" env MANWIDTH=80 man -l "$root/usr/share/man/man1/vistrel.1.gz"

# ---- the low ports for an ordinary user ----

check "postinst is executable" test -x "$control/postinst"
# The postinst never fails an installation over the capability, and says why it could not
# grant it. "configure" on the unpacked files, with a setcap that is missing or refused.
fake=$work/fake-bin
mkdir -p "$fake/none"
printf '#!/bin/sh\necho "Operation not supported" >&2\nexit 1\n' >"$fake/setcap"
chmod 755 "$fake/setcap"
postinst_says() {  # postinst_says PATH PATTERN: exits 0 and prints PATTERN
    local out
    out=$(env PATH="$1" DPKG_ROOT="$root" /bin/sh "$control/postinst" configure 2>&1) &&
        grep -q "$2" <<<"$out"
}
check "postinst goes on without setcap" postinst_says "$fake/none" 'setcap is missing.*picrx.*999'
check "postinst goes on when the file system refuses" \
    postinst_says "$fake" 'refused the capability on .*/tonebox (Operation not supported).*998'

port_free() { ! ss -Hltn "sport = :$1" | grep -q .; }
listener_pid() {  # listener_pid PORT PROGRAM: the pid of PROGRAM listening on PORT, if it is
    ss -Hltnp "sport = :$1" | grep -o "\"$2\",pid=[0-9]*" | head -n 1 | sed 's/.*pid=//'
}
wait_for_line() {  # wait_for_line FILE PATTERN: up to 10 s
    local i
    for i in $(seq 100); do
        grep -q "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}
# Qt's runtime folder in the scratch root, so that nothing is left behind in /tmp.
as_nobody=(runuser -u nobody -- env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime")

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIPPED the low ports for an ordinary user: setcap and runuser need root" >&2
elif ! port_free 999 || ! port_free 998; then
    echo "FAILED  ports 998 and 999 must be free for this check:" >&2
    ss -ltnp 'sport = :998 or sport = :999' >&2
    failed=1
else
    picrx=$root/usr/bin/picrx
    tonebox=$root/usr/bin/tonebox
    shots=$work/shots
    mkdir -m 1777 "$shots"
    install -d -m 700 -o nobody "$work/runtime"
    # Without the capability an ordinary user cannot listen below 1024 (unless this machine
    # lets everyone), and picrx says how to get out of it.
    if [ "$(cat /proc/sys/net/ipv4/ip_unprivileged_port_start)" -gt 999 ]; then
        timeout 30 "${as_nobody[@]}" "$picrx" --screenshot "$shots/refused.png" \
            >"$work/refused.log" 2>&1 || true
        check "picrx as nobody without the capability names setcap" \
            grep -q "^    sudo setcap cap_net_bind_service=+ep $picrx\$" "$work/refused.log"
        check "... and --port with the modem's option" \
            grep -q 'tonebox --rx-port N' "$work/refused.log"
    else
        echo "note    this machine lets every user listen below 1024; the refusal is not checked"
    fi

    # The package's own postinst, as dpkg runs it after unpacking.
    DPKG_ROOT=$root /bin/sh "$control/postinst" configure
    for program in picrx tonebox; do
        check "postinst gave $program cap_net_bind_service" \
            sh -c "getcap '$root/usr/bin/$program' | grep -q 'cap_net_bind_service=ep'"
    done

    # In a process group of its own, so that a picrx stuck in its failure box goes too.
    setsid "${as_nobody[@]}" "$picrx" --verbose >"$work/picrx.log" 2>&1 &
    background+=($!)
    if wait_for_line "$work/picrx.log" 'listening on 127.0.0.1 port 999'; then
        pid=$(listener_pid 999 picrx)
        check "picrx as nobody listens on 127.0.0.1:999" test -n "$pid"
        check "... as user nobody" test "$(ps -o user= -p "${pid:-0}")" = nobody
        # A modem's connection shows in this picrx's own log: it is what listens there.
        (exec 3<>/dev/tcp/127.0.0.1/999 && sleep 0.3) || true
        check "... and takes a connection" wait_for_line "$work/picrx.log" 'demodulator 127.0.0.1:'
        [ -n "$pid" ] && kill "$pid"
        wait "${background[-1]}" 2>/dev/null || true
        check "... and is gone after SIGTERM" port_free 999
    else
        echo "FAILED  picrx as nobody did not listen on port 999:" >&2
        cat "$work/picrx.log" >&2
        failed=1
    fi

    setsid "${as_nobody[@]}" "$tonebox" --rx-port 9 >"$work/tonebox.log" 2>&1 &
    background+=($!)
    if wait_for_line "$work/tonebox.log" 'listening for the sender on 127.0.0.1:998'; then
        check "tonebox as nobody listens on 127.0.0.1:998" test -n "$(listener_pid 998 tonebox)"
        # "exit" on the sender's link ends it, as pictx does.
        (exec 3<>/dev/tcp/127.0.0.1/998 && printf exit >&3 && sleep 0.3) || true
        check "... and ends on \"exit\"" wait_for_line "$work/tonebox.log" 'tonebox: exit'
        wait "${background[-1]}" 2>/dev/null || true
        check "... and is gone" port_free 998
    else
        echo "FAILED  tonebox as nobody did not listen on port 998:" >&2
        cat "$work/tonebox.log" >&2
        failed=1
    fi
fi

if [ $failed -ne 0 ]; then
    echo "test_package: $deb has faults" >&2
    exit 1
fi
echo "test_package: $deb installs and runs"

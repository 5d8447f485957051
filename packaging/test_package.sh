#!/usr/bin/env bash
# Unpacks a Vistrel .deb into a scratch root and checks that what a desktop needs is in place and
# that every program runs from there: each one's --help, the man pages, the desktop files, the
# MIME type and the icons.
#   packaging/test_package.sh PACKAGE.deb
set -euo pipefail
deb=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

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
for lib in libqt6widgets6 libavcodec59; do
    case "$depends" in *"$lib"*) echo "ok      depends on $lib" ;;
        *) echo "FAILED  Depends lacks $lib: $depends" >&2; failed=1 ;; esac
done

for program in pictx picrx movieplay tonebox vistrel; do
    check "$program --help" env QT_QPA_PLATFORM=offscreen "$root/usr/bin/$program" --help
    check "man page $program(1)" test -s "$root/usr/share/man/man1/$program.1.gz"
done
for app in pictx picrx movieplay; do
    desktop=$root/usr/share/applications/$app.desktop
    check "$app.desktop in Network;HamRadio;" grep -qx 'Categories=Network;HamRadio;' "$desktop"
    if command -v desktop-file-validate >/dev/null; then
        check "$app.desktop validates" desktop-file-validate "$desktop"
    fi
done
check "movieplay opens application/x-vistrel-movie" \
    grep -q 'MimeType=application/x-vistrel-movie;' "$root/usr/share/applications/movieplay.desktop"
check "MIME type *.tv" grep -q 'glob pattern="\*.tv"' "$root/usr/share/mime/packages/vistrel-movie.xml"
for side in 16 32 48 256; do
    check "icon ${side}x$side" test -s "$root/usr/share/icons/hicolor/${side}x$side/apps/vistrel.png"
done
check "scalable icon" test -s "$root/usr/share/icons/hicolor/scalable/apps/vistrel.svg"
check "man vistrel reads" env MANWIDTH=80 man -l "$root/usr/share/man/man1/vistrel.1.gz"

if [ $failed -ne 0 ]; then
    echo "test_package: $deb has faults" >&2
    exit 1
fi
echo "test_package: $deb installs and runs"

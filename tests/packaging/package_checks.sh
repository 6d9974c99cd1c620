#!/usr/bin/env bash
# Checks of the Debian package, one per ctest test:
#   package_checks.sh CHECK SOURCE_DIR BUILD_DIR SCRATCH
# "build" makes SCRATCH/plowview_*.deb from BUILD_DIR (as scripts/package does) and extracts it into
# SCRATCH/root; every other check works on those two.
set -uo pipefail
check=$1 source=$2 build=$3 scratch=$4
programs=(plowview plowsim plowview-replay plowplot plowmail)
status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}
deb() { ls "$scratch"/plowview_*_amd64.deb 2>/dev/null | head -n 1; }
root=$scratch/root

case $check in
  build)
    rm -rf "$scratch"
    mkdir -p "$scratch"
    "$source/scripts/package" --build-dir "$build" --no-build --no-lintian --output "$scratch" >/dev/null || exit 1
    [ -n "$(deb)" ] || { echo "no package in $scratch" >&2; exit 1; }
    dpkg-deb -x "$(deb)" "$root" || exit 1
    ;;

  Lintian)
    # No error; every warning is one the README lists with its reason.
    out=$(lintian --no-tag-display-limit "$(deb)" 2>&1)
    echo "$out"
    grep -q '^E: ' <<<"$out" && fail "lintian reports errors"
    while read -r tag; do
      grep -q "\`$tag\`" "$source/README.md" || fail "lintian warning $tag is not listed in the README"
    done < <(sed -n 's/^W: [^ ]* \([a-z0-9-]*\).*/\1/p' <<<"$out" | sort -u)
    ;;

  Programs)
    for p in "${programs[@]}"; do
      bin=$root/usr/bin/$p
      [ -x "$bin" ] || { fail "$p is not in the package"; continue; }
      out=$("$bin" --help 2>&1) || fail "$p --help exits $?"
      grep -q '^Usage: ' <<<"$out" || fail "$p --help shows no usage: $out"
    done
    ;;

  ManPages)
    for p in "${programs[@]}"; do
      page=$root/usr/share/man/man1/$p.1.gz
      [ -f "$page" ] || { fail "no man page for $p"; continue; }
      text=$(MANWIDTH=100 man --warnings=w -l "$page" 2>"$scratch/man-$p.err") || fail "man -l $p exits $?"
      [ -s "$scratch/man-$p.err" ] && fail "man -l $p warns: $(cat "$scratch/man-$p.err")"
      grep -q "^NAME" <<<"$text" || fail "man page of $p has no NAME section"
      # Every option --help lists is in the page, hyphens as man shows them.
      for option in $("$root/usr/bin/$p" --help 2>&1 | grep -oE '^ +(-[a-zA-Z],? )?--?[a-zA-Z][-a-zA-Z]*' |
                      grep -oE -- '--?[a-zA-Z][-a-zA-Z]*$' | sort -u); do
        grep -qF -- "$option" <<<"$text" || fail "$p's man page lacks $option"
      done
    done
    ;;

  DesktopEntry)
    entry=$root/usr/share/applications/plowview.desktop
    out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $out"
    grep -qiE 'error|warning' <<<"$out" && fail "desktop-file-validate: $out"
    grep -qx 'Categories=Utility;Science;' "$entry" || fail "categories"
    [ -f "$root/usr/share/icons/hicolor/scalable/apps/plowview.svg" ] || fail "no scalable icon"
    for size in 48 128; do
      png=$root/usr/share/icons/hicolor/${size}x$size/apps/plowview.png
      file "$png" | grep -q "PNG image data, $size x $size" || fail "icon $png is not $size px: $(file "$png")"
    done
    ;;

  StationUnit)
    unit=$root/usr/lib/systemd/system/plowview-station@.service
    [ -f "$unit" ] || { fail "no station unit"; exit 1; }
    grep -qx 'ExecStart=/usr/bin/plowview --headless --reconnect --config /etc/plowview/%i.ini' "$unit" ||
      fail "ExecStart"
    # systemd checks that the program exists: point it at the extracted one, and man at its pages.
    mkdir -p "$scratch/units"
    sed "s|/usr/bin/plowview|$root/usr/bin/plowview|" "$unit" >"$scratch/units/plowview-station@.service"
    out=$(MANPATH=$root/usr/share/man systemd-analyze verify "$scratch/units/plowview-station@.service" 2>&1) ||
      fail "systemd-analyze verify exits $?"
    [ -z "$out" ] || fail "systemd-analyze verify: $out"
    [ -f "$root/usr/share/doc/plowview/examples/station.ini" ] || fail "no example station file"
    ;;

  Control)
    name=$(basename "$(deb)")
    version=$(sed -n 's/^project(Plowview VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
    [ "$name" = "plowview_${version}_amd64.deb" ] || fail "package named $name"
    depends=$(dpkg-deb -f "$(deb)" Depends)
    for needed in adduser libqt6core6 libqt6widgets6 libcurl4; do
      grep -q "$needed" <<<"$depends" || fail "Depends lacks $needed: $depends"
    done
    dpkg-deb -I "$(deb)" postinst | grep -q 'adduser --quiet plowview dialout' || fail "postinst"
    for doc in copyright changelog.gz README.md.gz; do
      [ -f "$root/usr/share/doc/plowview/$doc" ] || fail "no $doc"
    done
    ;;

  *)
    echo "unknown check $check" >&2
    exit 2
    ;;
esac
exit $status

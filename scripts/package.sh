#!/usr/bin/env bash
# Builds kelm's packages into build/package/:
#   kelmtool_<version>_<arch>.deb      kelmtool (preset "kelmtool"), the udev rule, the manual page,
#                                      the shell completions, the README; dependencies from
#                                      dpkg-shlibdeps
#   kelm-<version>-windows-x64.zip     kelm.exe and kelmtool.exe (preset "windows"), README.txt,
#                                      INSTALL.txt and the udev rule for Wine users
# The version is the one of project() in CMakeLists.txt.
#
#   scripts/package.sh [deb] [zip]     both when neither is named
#
# Needs what scripts/install-deps.sh installs (dpkg-dev for dpkg-shlibdeps, zip). Nothing is
# installed on this machine. KELM_MAINTAINER overrides the package's Maintainer field.
set -euo pipefail

cd "$(dirname "$0")/.."
umask 022

want_deb=0
want_zip=0
[[ $# -eq 0 ]] && set -- deb zip
for what in "$@"; do
    case $what in
        deb) want_deb=1 ;;
        zip) want_zip=1 ;;
        *) echo "usage: $0 [deb] [zip]" >&2; exit 2 ;;
    esac
done

out=build/package
mkdir -p "$out"
maintainer=${KELM_MAINTAINER:-kelm developers <kelm@example.org>}

# version_of BUILD_DIR: project()'s version, as the configured build has it.
version_of() { sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt"; }

# The time of the commit built, for the changelog (the current time outside a git checkout).
stamp=$(git log -1 --format=%ct 2>/dev/null || date +%s)

build_deb() {
    cmake --preset kelmtool
    cmake --build --preset kelmtool -j 2
    local version arch name root
    version=$(version_of build/kelmtool)
    arch=$(dpkg --print-architecture)
    name=kelmtool_${version}_${arch}
    root=$out/deb/$name
    rm -rf "$root"
    mkdir -p "$root/DEBIAN" "$root/usr/bin" "$root/usr/lib/udev/rules.d" \
        "$root/usr/share/man/man1" "$root/usr/share/doc/kelmtool"
    # The completions kelmtool wrote of itself, where Debian's bash-completion, zsh and fish
    # look for those of packages.
    local completions=build/kelmtool/completions
    install -D -m 0644 "$completions/bash/bash-completion/completions/kelmtool" \
        "$root/usr/share/bash-completion/completions/kelmtool"
    install -D -m 0644 "$completions/zsh/zsh/site-functions/_kelmtool" \
        "$root/usr/share/zsh/vendor-completions/_kelmtool"
    install -D -m 0644 "$completions/fish/fish/vendor_completions.d/kelmtool.fish" \
        "$root/usr/share/fish/vendor_completions.d/kelmtool.fish"

    strip --strip-unneeded --remove-section=.comment --remove-section=.note \
        -o "$root/usr/bin/kelmtool" build/kelmtool/kelmtool
    chmod 0755 "$root/usr/bin/kelmtool"
    install -m 0644 packaging/60-kelm.rules "$root/usr/lib/udev/rules.d/60-kelm.rules"
    gzip -9n <build/kelmtool/kelmtool.1 >"$root/usr/share/man/man1/kelmtool.1.gz"
    gzip -9n <README.md >"$root/usr/share/doc/kelmtool/README.md.gz"
    install -m 0644 packaging/debian/copyright "$root/usr/share/doc/kelmtool/copyright"
    {
        echo "kelmtool ($version) unstable; urgency=medium"
        echo
        echo "  * kelm $version: kelmtool with the udev rule for the kelm board."
        echo
        echo " -- $maintainer  $(date -R -u -d "@$stamp")"
    } | gzip -9n >"$root/usr/share/doc/kelmtool/changelog.gz"
    chmod 0644 "$root"/usr/share/man/man1/* "$root"/usr/share/doc/kelmtool/*

    # The shared libraries' packages, as dpkg-shlibdeps finds them (it wants a debian/control).
    local scratch depends
    scratch=$out/deb/shlibdeps
    rm -rf "$scratch"
    mkdir -p "$scratch/debian"
    printf 'Source: kelmtool\n\nPackage: kelmtool\nArchitecture: any\n' >"$scratch/debian/control"
    depends=$(cd "$scratch" && dpkg-shlibdeps -O -e"$OLDPWD/$root/usr/bin/kelmtool" |
        sed -n 's/^shlibs:Depends=//p')
    rm -rf "$scratch"
    [[ -n "$depends" ]] || { echo "package: dpkg-shlibdeps found no dependencies" >&2; return 1; }

    install -m 0755 packaging/debian/postinst "$root/DEBIAN/postinst"
    cat >"$root/DEBIAN/control" <<CONTROL
Package: kelmtool
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$root" | cut -f1)
Depends: $depends
Section: electronics
Priority: optional
Description: command-line tool for the flash of the kelm board
 kelmtool lists kelm boards (USB HID, vendor 0x03EB, product 0x0001), shows
 the slot map of their 2 MB flash, writes BIOS, DOL, ELF and VGC images as the
 kelm window program does, backs up, verifies and erases applications, and
 dumps and restores the whole flash, with exit codes for scripts and JSON
 output. A simulated board (--sim) lets it be tried without hardware.
 .
 The package includes the udev rule that lets the user at the machine open
 the board.
CONTROL
    (cd "$root" && find usr -type f | LC_ALL=C sort | xargs md5sum >DEBIAN/md5sums)
    chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"
    dpkg-deb --root-owner-group -Zxz --build "$root" "$out/$name.deb"
    rm -rf "$out/deb"
    echo "package: $out/$name.deb"
}

build_zip() {
    cmake --preset windows
    cmake --build --preset windows -j 2 --target kelm kelmtool
    local version name stage
    version=$(version_of build/windows)
    name=kelm-${version}-windows-x64
    stage=$out/zip/$name
    rm -rf "$out/zip"
    mkdir -p "$stage"
    for exe in kelm.exe kelmtool.exe; do
        x86_64-w64-mingw32-strip -o "$stage/$exe" "build/windows/$exe"
    done
    # Text files with Windows line ends, readable in Notepad.
    sed 's/$/\r/' README.md >"$stage/README.txt"
    sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' packaging/INSTALL.txt.in >"$stage/INSTALL.txt"
    # The rule keeps its Unix line ends: udev reads it on Linux.
    install -m 0644 packaging/60-kelm.rules "$stage/60-kelm.rules"
    rm -f "$out/$name.zip"
    (cd "$out/zip" && zip -X -q -r "../$name.zip" "$name")
    rm -rf "$out/zip"
    echo "package: $out/$name.zip"
}

# Called outside any condition, so that set -e stops them at the first failure.
if [[ $want_deb -eq 1 ]]; then
    build_deb
fi
if [[ $want_zip -eq 1 ]]; then
    build_zip
fi

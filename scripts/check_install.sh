#!/usr/bin/env bash
# Checks the project as users and packagers meet it: a Release build with warnings as errors
# (into build-install/, or $INSTALL_BUILD_DIR), installed into a staging root; the consumers
# of examples/ built against it with pkg-config and with find_package(Vorn); the desktop
# files, metainfo and manual pages validated; the Debian packages built, their contents and
# dependencies checked, and both programs run from the packages' files in a scratch root.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS

build="${INSTALL_BUILD_DIR:-build-install}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "check_install: $*" >&2; exit 1; }
expect() {   # expect WHAT EXPECTED ACTUAL
    [ "$2" = "$3" ] || fail "$1: expected '$2', got '$3'"
}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DBUILD_TESTING=OFF -DVORN_WITH_BENCH=OFF -DVORN_WERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
libdir="$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")"

# ---- Staged install --------------------------------------------------------------------
stage="$work/stage"
DESTDIR="$stage" cmake --install "$build" >/dev/null
usr="$stage/usr"
for f in "$libdir/libvorn.so.$version" "$libdir/libvorn.so.1" "$libdir/libvorn.so" \
         include/vorn.h include/vorn/vorn.hpp "$libdir/pkgconfig/vorn.pc" \
         "$libdir/cmake/Vorn/VornConfig.cmake" "$libdir/cmake/Vorn/VornTargets.cmake" \
         bin/workbench bin/testbench share/man/man1/workbench.1.gz share/man/man1/testbench.1.gz; do
    [ -e "$usr/$f" ] || fail "not installed: $f"
done
for f in include/internal.h include/crypto_internal.h include/small_primes.h; do
    [ ! -e "$usr/$f" ] || fail "private header installed: $f"
done
soname="$(objdump -p "$usr/$libdir/libvorn.so.$version" | awk '$1 == "SONAME" {print $2}')"
expect "soname" "libvorn.so.1" "$soname"
for program in workbench testbench; do
    runpath="$(objdump -p "$usr/bin/$program" | awk '$1 == "RUNPATH" || $1 == "RPATH" {print $2}')"
    expect "$program RUNPATH" "\$ORIGIN/../$libdir" "$runpath"
    ! grep -q "$PWD" "$usr/bin/$program" || fail "$program holds the build path $PWD"
    expect "$program --version" "$program $version" "$("$usr/bin/$program" --version)"
done

# ---- Consumers ---------------------------------------------------------------------------
expected="product 12193263113702179522496570642237463801111263526900
prime 1"
# vorn.pc names /usr; the sysroot puts the staging root in front of its paths.
pc() { PKG_CONFIG_SYSROOT_DIR="$stage" PKG_CONFIG_LIBDIR="$usr/$libdir/pkgconfig" pkg-config "$@" vorn; }
expect "pkg-config version" "$version" "$(pc --modversion)"
# shellcheck disable=SC2046   # the flags are words
cc -std=c11 -Wall -Wextra -Werror $(pc --cflags) examples/multiply_prove.c $(pc --libs) \
   -Wl,-rpath,"$(pc --variable=libdir)" -o "$work/multiply_prove"
expect "pkg-config consumer" "$expected" "$("$work/multiply_prove")"
cmake -S examples -B "$work/examples" -DCMAKE_PREFIX_PATH="$usr" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/examples" -j "$(nproc)" >/dev/null
expect "find_package consumer" "$expected" "$("$work/examples/multiply_prove")"
expect "C++ binding consumer" "$(head -1 <<<"$expected")" "$("$work/examples/binding")"

# ---- Desktop files, metainfo, manual pages --------------------------------------------
desktop-file-validate "$usr"/share/applications/org.vorn.*.desktop
appstreamcli validate --no-net --pedantic "$usr"/share/metainfo/org.vorn.*.metainfo.xml >/dev/null
for program in workbench testbench; do
    [ -e "$usr/share/icons/hicolor/scalable/apps/org.vorn.$program.svg" ] || fail "no icon for $program"
    warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$usr/share/man/man1/$program.1.gz" 2>&1 >/dev/null)"
    [ -z "$warnings" ] || fail "manual page of $program: $warnings"
done

# ---- Debian packages ---------------------------------------------------------------------
(cd "$build" && cpack -G DEB -B "$work/debs" >/dev/null)
arch="$(dpkg --print-architecture)"
debs=("$work/debs/libvorn1_${version}-1_$arch.deb" "$work/debs/libvorn-dev_${version}-1_$arch.deb"
      "$work/debs/vorn_${version}-1_$arch.deb")
expect "packages" "$(printf '%s\n' "${debs[@]}" | sort)" "$(ls "$work"/debs/*.deb | sort)"
contents() { dpkg-deb -c "$1" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' | grep -v '^/usr/share/doc' | sort; }
# Every file of the staged install lands in exactly one package (the three lists make it whole).
staged="$(cd "$stage" && find . ! -type d | sed 's|^\.||' | sort)"
packaged="$(for d in "${debs[@]}"; do contents "$d"; done | sort)"
packaged_files="$(comm -12 <(echo "$staged") <(echo "$packaged"))"
expect "files in the packages" "$staged" "$packaged_files"
contents "${debs[0]}" | grep -qx "/usr/$libdir/libvorn.so.1" || fail "libvorn1 lacks the soname link"
contents "${debs[1]}" | grep -qx "/usr/include/vorn.h" || fail "libvorn-dev lacks vorn.h"
contents "${debs[2]}" | grep -qx "/usr/bin/workbench" || fail "vorn lacks workbench"
depends() { dpkg-deb -f "$1" Depends; }
for lib in libgmp10 libssl3 libflint17 libpari-gmp-tls8; do
    depends "${debs[0]}" | grep -q "\b$lib\b" || fail "libvorn1 does not depend on $lib"
done
depends "${debs[1]}" | grep -q "libvorn1 (= $version" || fail "libvorn-dev does not depend on libvorn1 $version"
depends "${debs[2]}" | grep -q "libvorn1 (= $version" || fail "vorn does not depend on libvorn1 $version"
depends "${debs[2]}" | grep -q "libqt6widgets6" || fail "vorn does not depend on libqt6widgets6"
# apt resolves the dependencies (simulated: nothing is installed).
apt-get install -s -q "${debs[@]}" >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt cannot install the packages"; }

# ---- The programs from the unpacked packages --------------------------------------------
root="$work/root"
for d in "${debs[@]}"; do dpkg-deb -x "$d" "$root"; done
for program in workbench testbench; do
    bound="$(ldd "$root/usr/bin/$program" | awk '$1 == "libvorn.so.1" {print $3}')"
    expect "$program binds" "$root/usr/$libdir/libvorn.so.1" "$(realpath -s "$bound")"
done
expect "workbench close" "" "$(printf 'close\n' | "$root/usr/bin/workbench" --console)"
product="$(printf '%s\n' 'select 1001 a * b' 'set 1004 123456789012345678901234567890' \
    'set 1006 98765432109876543210' 'press 1019' 'show 1009' 'close' |
    "$root/usr/bin/workbench" --console | tail -1)"
expect "workbench a * b" "[1009] 12193263113702179522496570642237463801111263526900" "$product"
mkdir "$work/run"
log="$(cd "$work/run" && printf '%s\n' 'press 1004' '128' 'y' '1' 'close' |
    "$root/usr/bin/testbench" --console)"
IFS=. read -r major minor _ <<<"$version"
banner="[1007] Current version of VORN.dll: $major.$(printf %02d "$minor")"
grep -qxF "$banner" <<<"$log" || fail "testbench banner, expected '$banner': $log"
grep -q 'Data was generated' <<<"$log" || fail "testbench BBS file: $log"
expect "BBS.txt size" 1000 "$(stat -c %s "$work/run/BBS.txt")"

echo "check_install: passed in $((SECONDS - start)) s (packages: $(cd "$work/debs" && echo *.deb))"

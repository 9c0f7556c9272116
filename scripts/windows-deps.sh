#!/usr/bin/env bash
# Installs the Windows cross toolchain and wine, and builds OpenSSL and Qt 5 qtbase
# (Core, Network, Test) for Windows x86_64 from Debian's own source packages, once,
# into a versioned prefix outside the checkout. Prints that prefix as its last line.
# Building Qt takes about 25 minutes on two cores; a prefix that is there is reused.
set -euo pipefail
cache="${UPDATER_WINDOWS_CACHE:-/var/cache/software-updater-windows}"

packages=(g++-mingw-w64-x86-64-posix wine64 dpkg-dev make perl python3 xz-utils)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done

# Source packages come from a deb-src twin of the machine's own apt source.
sources=/etc/apt/sources.list.d
if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list "$sources"; then
    if [ -f "$sources/debian.sources" ]; then
        sed 's/^Types: deb$/Types: deb-src/' "$sources/debian.sources" >"$sources/debian-src.sources"
    else
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$sources/debian-src.list"
    fi
    updated=
else
    updated=yes
fi
if [ ${#missing[@]} -gt 0 ] || [ -z "$updated" ]; then
    apt-get update >&2
    [ ${#missing[@]} -eq 0 ] || DEBIAN_FRONTEND=noninteractive \
        apt-get install -y --no-install-recommends "${missing[@]}" >&2
fi

# The newest version of a source package first; a mirror may lack the newest one's files.
source_versions() {
    apt-cache showsrc --only-source "$1" | sed -n 's/^Version: //p' | sort -Vr
}
prefix_for() { echo "$cache/qtbase-${1}_openssl-${2}_mingw64"; }
qt_version=$(source_versions qtbase-opensource-src | head -n 1)
for ssl_version in $(source_versions openssl); do
    prefix=$(prefix_for "$qt_version" "$ssl_version")
    if [ -f "$prefix/.complete" ]; then
        echo "$prefix"
        exit 0
    fi
done

work="$cache/work"
rm -rf "$work"
mkdir -p "$work"
cd "$work"
apt-get source --download-only "qtbase-opensource-src=$qt_version" >&2
for ssl_version in $(source_versions openssl); do
    apt-get source --download-only "openssl=$ssl_version" >&2 && break
    rm -f openssl_*
done
prefix=$(prefix_for "$qt_version" "$ssl_version")
rm -rf "$prefix"
dpkg-source --no-check --skip-patches -x openssl_*.dsc openssl >&2
dpkg-source --no-check -x qtbase-opensource-src_*.dsc qtbase >&2

jobs=$(nproc)
(
    cd openssl
    ./Configure mingw64 --cross-compile-prefix=x86_64-w64-mingw32- --prefix="$prefix" \
        --libdir=lib shared no-tests
    make -j"$jobs"
    make install_sw
) >&2

(
    cd qtbase
    # MinGW's import libraries on Linux are lower-case; Qt names two of them with capitals.
    grep -rlE -- '-l(Secur32|Crypt32)' src | xargs -r sed -i 's/-lSecur32/-lsecur32/g; s/-lCrypt32/-lcrypt32/g'
    ./configure -prefix "$prefix" -opensource -confirm-license -release -shared \
        -xplatform win32-g++ -device-option CROSS_COMPILE=x86_64-w64-mingw32- \
        -nomake examples -nomake tests -no-gui -no-widgets -no-opengl -no-dbus -no-icu \
        -no-sql-sqlite -no-sql-odbc -no-sql-psql -no-sql-mysql \
        -openssl-linked -I "$prefix/include" -L "$prefix/lib" \
        OPENSSL_LIBS="-lssl -lcrypto -lws2_32 -lcrypt32"
    make -j"$jobs"
    make install
) >&2

rm -rf "$work"
touch "$prefix/.complete"
echo "$prefix"

#!/usr/bin/env bash
# Installs libvelk into temporary prefixes and builds and runs the consumer
# project against each installed tree: through find_package and through
# pkg-config, for a shared and for a static build; then through add_subdirectory
# of the source tree. Usage: install-check.sh  (JOBS=N sets build parallelism)
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
consumer=$root/tests/consumer
jobs=${JOBS:-2}
work=$(mktemp -d "${TMPDIR:-/tmp}/velk-install-check.XXXXXX")
trap 'rm -rf "$work"' EXIT

step() { printf '\n== %s\n' "$*"; }
fail() {
    echo "install-check: FAIL: $*" >&2
    exit 1
}

version=$(sed -n 's/^#define VELK_VERSION_\(MAJOR\|MINOR\|PATCH\) \([0-9]*\)$/\2/p' \
    "$root/Velk/base/velk.h" | paste -sd.)
major=${version%%.*}

# install KIND SHARED: builds and installs the library into $work/KIND/prefix.
install_library() {
    local kind=$1 shared=$2
    local prefix=$work/$kind/prefix
    step "$kind: build and install into $prefix"
    cmake -S "$root" -B "$work/$kind/build" -DCMAKE_BUILD_TYPE=Release \
        -DBUILD_SHARED_LIBS="$shared" -DVELK_BUILD_TESTS=OFF \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib >/dev/null
    cmake --build "$work/$kind/build" -j "$jobs" >/dev/null
    cmake --install "$work/$kind/build" >/dev/null

    local file
    local expected=(include/Velk/base/velk.h bin/velk lib/pkgconfig/velk.pc
        lib/cmake/Velk/VelkConfig.cmake lib/cmake/Velk/VelkConfigVersion.cmake
        lib/cmake/Velk/VelkTargets.cmake)
    if [ "$shared" = ON ]; then
        expected+=(lib/libvelk.so "lib/libvelk.so.$major" "lib/libvelk.so.$version")
    else
        expected+=(lib/libvelk.a)
    fi
    for file in "${expected[@]}"; do
        [ -e "$prefix/$file" ] || fail "$kind: $file is not installed"
    done
    [ ! -e "$prefix/include/Velk/base/velkintern.h" ] || fail "$kind: the private header is installed"
    if [ "$shared" = ON ]; then
        [ "$(readlink "$prefix/lib/libvelk.so")" = "libvelk.so.$major" ] ||
            fail "$kind: libvelk.so does not link to libvelk.so.$major"
        objdump -p "$prefix/lib/libvelk.so.$version" | grep -q "SONAME *libvelk.so.$major\$" ||
            fail "$kind: the SONAME is not libvelk.so.$major"
    fi
    "$prefix/bin/velk" --version | grep -qx "velk $version" || fail "$kind: the installed tool does not run"
    "$prefix/bin/velk" check "$root/examples/catalog.xml" || fail "$kind: the installed tool rejects a good file"
    echo "installed: ${expected[*]}"
}

# build_with_cmake KIND NAME ARGS...: configures, builds and runs the consumer.
build_with_cmake() {
    local kind=$1 name=$2
    shift 2
    step "$kind: consumer through $name"
    cmake -S "$consumer" -B "$work/$kind/consumer-$name" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
    cmake --build "$work/$kind/consumer-$name" -j "$jobs" >/dev/null
    "$work/$kind/consumer-$name/consumer"
}

build_with_pkg_config() {
    local kind=$1
    local prefix=$work/$kind/prefix
    step "$kind: consumer through pkg-config"
    export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
    [ "$(pkg-config --modversion velk)" = "$version" ] || fail "$kind: pkg-config reports another version"
    # shellcheck disable=SC2046
    c++ -std=c++11 -o "$work/$kind/consumer-pkg-config" "$consumer/main.cpp" \
        $(pkg-config --cflags velk) $(pkg-config --libs velk) -Wl,-rpath,"$prefix/lib"
    "$work/$kind/consumer-pkg-config"
    unset PKG_CONFIG_PATH
}

for kind in shared static; do
    shared=$([ "$kind" = shared ] && echo ON || echo OFF)
    install_library "$kind" "$shared"
    build_with_cmake "$kind" find_package -DCMAKE_PREFIX_PATH="$work/$kind/prefix"
    build_with_pkg_config "$kind"
done

step "shared: find_package refuses another major version"
if cmake -S "$consumer" -B "$work/shared/consumer-version" -DCMAKE_PREFIX_PATH="$work/shared/prefix" \
    -DVELK_REQUIRED_VERSION=$((major + 1)).0 >/dev/null 2>&1; then
    fail "find_package(Velk $((major + 1)).0) accepted version $version"
fi
echo "find_package(Velk $((major + 1)).0) fails, as it should"

build_with_cmake source add_subdirectory -DVELK_SOURCE_DIR="$root"

step "install-check passed"

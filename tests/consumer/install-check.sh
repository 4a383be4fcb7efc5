#!/usr/bin/env bash
# Installs libvelk into prefixes other than the one it was configured for and
# builds and runs the consumer project against each installed tree, through
# find_package and through pkg-config, for a shared and for a static build; then
# through add_subdirectory of the source tree. Every tree is placed two ways:
# `cmake --install --prefix` and a DESTDIR staging install, as packagers do, so
# the installed files may not depend on the configured prefix.
# Usage: install-check.sh  (JOBS=N sets build parallelism)
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

# build_library KIND SHARED: configures (for a prefix nothing is installed in)
# and builds the library and the tool in $work/KIND/build, as the README's
# install commands do, with GoogleTest hidden: installing must not need it.
build_library() {
    local kind=$1 shared=$2
    step "$kind: build, configured for the prefix $work/$kind/configured"
    cmake -S "$root" -B "$work/$kind/build" -DCMAKE_BUILD_TYPE=Release \
        -DBUILD_SHARED_LIBS="$shared" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
        -DCMAKE_INSTALL_PREFIX="$work/$kind/configured" -DCMAKE_INSTALL_LIBDIR=lib >/dev/null
    cmake --build "$work/$kind/build" -j "$jobs" >/dev/null
}

# check_tree KIND SHARED PREFIX: the installed files are all there, and none of
# them names the configured prefix.
check_tree() {
    local kind=$1 shared=$2 prefix=$3
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
    [ ! -e "$work/$kind/configured" ] || fail "$kind: files were installed into the configured prefix"
    if grep -rl "$work/$kind/configured" "$prefix/lib/pkgconfig" "$prefix/lib/cmake"; then
        fail "$kind: the files above name the configured prefix"
    fi
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

# build_with_cmake NAME ARGS...: configures, builds and runs the consumer in $work/NAME.
build_with_cmake() {
    local name=$1
    shift
    step "$name"
    cmake -S "$consumer" -B "$work/$name" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
    cmake --build "$work/$name" -j "$jobs" >/dev/null
    "$work/$name/consumer"
}

# build_with_pkg_config NAME PREFIX: compiles and runs the consumer with the
# flags that the installed velk.pc gives, as the README says: the library's
# folder recorded with -rpath; built without it, through LD_LIBRARY_PATH.
build_with_pkg_config() {
    local name=$1 prefix=$2
    step "$name"
    local pc=(env PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config)
    [ "$("${pc[@]}" --modversion velk)" = "$version" ] || fail "$name: pkg-config reports another version"
    # shellcheck disable=SC2046
    c++ -std=c++11 -o "$work/$name" "$consumer/main.cpp" \
        $("${pc[@]}" --cflags --libs velk) -Wl,-rpath,$("${pc[@]}" --variable=libdir velk)
    "$work/$name"
    # shellcheck disable=SC2046
    c++ -std=c++11 -o "$work/$name-no-rpath" "$consumer/main.cpp" $("${pc[@]}" --cflags --libs velk)
    if [ -e "$prefix/lib/libvelk.so" ]; then
        LD_LIBRARY_PATH="$prefix/lib" "$work/$name-no-rpath" >/dev/null ||
            fail "$name: LD_LIBRARY_PATH does not lead the program to the library"
    else
        "$work/$name-no-rpath" >/dev/null || fail "$name: a static build needs no run-time path"
    fi
}

# consume KIND SHARED HOW PREFIX: checks the tree installed at PREFIX and builds
# the consumer against it both ways.
consume() {
    local kind=$1 shared=$2 how=$3 prefix=$4
    check_tree "$kind" "$shared" "$prefix"
    build_with_cmake "$kind-$how-find_package" -DCMAKE_PREFIX_PATH="$prefix" \
        -DVELK_REQUIRED_VERSION="$major.0"
    build_with_pkg_config "$kind-$how-pkg-config" "$prefix"
}

for kind in shared static; do
    shared=$([ "$kind" = shared ] && echo ON || echo OFF)
    build_library "$kind" "$shared"

    prefix=$work/$kind/prefix
    step "$kind: cmake --install --prefix $prefix"
    cmake --install "$work/$kind/build" --prefix "$prefix" >/dev/null
    consume "$kind" "$shared" prefix "$prefix"

    stage=$work/$kind/stage
    step "$kind: DESTDIR=$stage cmake --install"
    DESTDIR=$stage cmake --install "$work/$kind/build" >/dev/null
    consume "$kind" "$shared" destdir "$stage$work/$kind/configured"
done

step "shared: find_package refuses another major version"
if cmake -S "$consumer" -B "$work/consumer-version" -DCMAKE_PREFIX_PATH="$work/shared/prefix" \
    -DVELK_REQUIRED_VERSION=$((major + 1)).0 >/dev/null 2>&1; then
    fail "find_package(Velk $((major + 1)).0) accepted version $version"
fi
echo "find_package(Velk $((major + 1)).0) fails, as it should"

build_with_cmake source-add_subdirectory -DVELK_SOURCE_DIR="$root"

step "install-check passed"

#!/usr/bin/env bash
# Every library the build finds comes from a package in scripts/deps.sh's
# list, so that the scripts install it on a fresh machine: each module that
# a CMakeLists.txt asks pkg-config for, and each CMake package configuration
# file the configured BUILD_DIR found under /usr, is looked up in dpkg's
# database. Skips where there is no dpkg.
# Usage: deps_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1 build=$2
command -v dpkg-query >/dev/null || { echo "SKIP: no dpkg on this machine"; exit 77; }
. "$source_dir/scripts/deps.sh"
listed=" ${deps_build[*]} ${deps_gtest[*]} ${deps_test[*]} ${deps_clang[*]} ${deps_coverage[*]} ${deps_bench[*]} "
failures=0 checked=0

# check WHAT FILE: the package that owns FILE must be listed.
check() {
    local owner
    owner=$(dpkg-query -S "$2" 2>/dev/null | head -n1 | cut -d: -f1) || true
    checked=$((checked + 1))
    if [ -z "$owner" ]; then
        echo "FAIL: $1: $2 belongs to no Debian package"; failures=$((failures + 1))
    elif [[ $listed != *" $owner "* ]]; then
        echo "FAIL: $1 comes from $owner, which scripts/deps.sh does not list"; failures=$((failures + 1))
    fi
}

modules=$(find "$source_dir" -name CMakeLists.txt -not -path "*/build*" -exec cat {} + |
    sed -n 's/.*pkg_check_modules([A-Za-z0-9_]*\([^)]*\)).*/\1/p' | tr ' ' '\n' |
    grep -v -E '^(|REQUIRED|QUIET|IMPORTED_TARGET|GLOBAL|NO_CMAKE_PATH|NO_CMAKE_ENVIRONMENT_PATH)$' | sed 's/[<>=].*//')
for module in $modules; do
    check "pkg-config module $module" "$(pkg-config --path "$module")"
done
while IFS= read -r dir; do
    for config in "$dir"/*[Cc]onfig.cmake; do
        [ -e "$config" ] && check "CMake package $(basename "$dir")" "$config"
    done
done < <(sed -n 's|^[A-Za-z0-9_]*_DIR:PATH=\(/usr/.*\)|\1|p' "$build/CMakeCache.txt")

[ "$checked" -ge 5 ] || { echo "FAIL: only $checked libraries found to check"; exit 1; }
[ "$failures" -eq 0 ] || exit 1
echo "$checked libraries, each from a listed package"

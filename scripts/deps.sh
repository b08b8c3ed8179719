# Sourced by the other scripts: the one list of Debian packages the project
# uses, in groups, and ensure_deps GROUP... / ensure_packages PKG..., which
# install what is missing (as root, after apt-get update) or else print the
# apt-get line to run and fail. Every script names the groups it needs, so
# that each one works alone on a fresh Debian 12 machine.
#
#   build     the compiler, CMake and every library the programs link
#             (libheif1 on Debian 12 decodes HEIC and AVIF itself: no plugin
#             packages); python3-dev, pybind11-dev and python3-numpy for the
#             Python module
#   gtest     GoogleTest: configuring with BUILD_TESTING=ON needs it
#   test      what the process-level tests run: Xvfb and xdotool for the
#             windows, ImageMagick as an independent codec, groff for the man
#             pages, ffmpeg, GNU parallel and OpenCV for the guide's recipes,
#             pytest and dask's distributed for the Python module's tests,
#             setuptools, wheel and venv for its pip install, Pillow and
#             imageio for its guide
#   clang     clang with its sanitizer and libFuzzer runtimes (scripts/fuzz.sh)
#   coverage  llvm-cov and llvm-profdata (scripts/coverage.sh)
#   bench     Google Benchmark and hyperfine (scripts/bench.sh, bench/*.sh)
deps_build=(build-essential cmake pkg-config libsdl1.2-dev libhwy-dev libpng-dev zlib1g-dev libjpeg62-turbo-dev
            libtiff-dev libwebp-dev libheif-dev python3-dev pybind11-dev python3-numpy)
deps_gtest=(googletest libgtest-dev)
deps_test=(xvfb xdotool x11-apps x11-utils libx11-dev imagemagick groff-base ffmpeg parallel python3-opencv
           python3-pytest python3-distributed python3-setuptools python3-wheel python3-venv python3-pil python3-imageio)
deps_clang=(clang libclang-rt-14-dev)
deps_coverage=(llvm-14)
deps_bench=(libbenchmark-dev imagemagick hyperfine)

# ensure_deps GROUP...: ensure_packages over the named groups above.
ensure_deps() {
    local group all=()
    for group in "$@"; do
        declare -p "deps_$group" >/dev/null 2>&1 || { echo "deps.sh: no package group '$group'" >&2; return 2; }
        local list="deps_$group[@]"
        all+=("${!list}")
    done
    ensure_packages "${all[@]}"
}

ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages. Run as root:" >&2
        echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
        return 1
    fi
    echo "Installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

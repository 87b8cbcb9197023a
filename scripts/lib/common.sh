# Shared by the scripts: installs missing Debian packages and builds.

BUILD_PACKAGES="cmake ninja-build g++ qt6-base-dev zlib1g-dev libdeflate-dev libmsnumpress-dev libisal-dev fonts-liberation2"
# msconvert: the reference the mzML reader's conformance test compares with;
# the real acquisitions it converts: OpenMS's examples and pymzML's test data;
# GNU parallel, Snakemake, desktop-file-validate and man: the install and
# folder tests.
TEST_PACKAGES="libpwiz-tools openms-doc python-pymzml-doc parallel snakemake desktop-file-utils man-db"
# The format and spelling checks of scripts/test.
CHECK_PACKAGES="clang-format codespell"
# dpkg-shlibdeps: the Debian package's dependencies (scripts/package).
PACKAGE_PACKAGES="dpkg-dev"
# The peers that bench/peers.sh times, and /usr/bin/time.
BENCH_PACKAGES="libpwiz-tools topp time"

# apt-get install whatever of the named packages is not installed yet.
install_missing() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$package")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

# configure_and_build BUILD_DIR [CMAKE_ARGS...]
configure_and_build() {
    local dir="$1"
    shift
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    cmake --build "$dir" --parallel "$(nproc)"
}
# The reader's fuzzer (scripts/fuzz): clang with libFuzzer and the sanitizers.
FUZZ_PACKAGES="clang-14 libclang-rt-14-dev"

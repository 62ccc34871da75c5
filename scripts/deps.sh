# Sourced by the other scripts: installs the Debian packages they need.
# Usage: tolv_install_packages PACKAGE...

tolv_install_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Makes the UTF-8 locales given as LANGUAGE_TERRITORY where they are missing.
tolv_make_locales() {
    local l sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    for l in "$@"; do
        locale -a | grep -qx "$l.utf8" || $sudo localedef -i "$l" -f UTF-8 "$l.UTF-8"
    done
}

# Enough to build the native port (the configure step also wants GoogleTest).
TOLV_BUILD_PACKAGES=(cmake ninja-build clang libgtest-dev libgmock-dev)

# Enough to build both packages: the native port, the 32-bit exe,
# dpkg-shlibdeps for the .deb's dependencies, and Python to fix the zip's order.
TOLV_PACKAGE_PACKAGES=("${TOLV_BUILD_PACKAGES[@]}" g++-mingw-w64-i686 dpkg-dev python3)

# Everything the whole test suite needs: the cross compilers for the Windows
# exe and its 64-bit test twin, Wine to run them, PE tools, sanitizer and
# fuzzer runtimes, valgrind, what the integration tests call, and the tools
# that build and check the packages (git clones the commit that is packed twice),
# and qemu with what makes the Debian 12 image that the VM tests boot.
TOLV_TEST_PACKAGES=("${TOLV_BUILD_PACKAGES[@]}"
    libclang-rt-14-dev clang-format valgrind strace procps util-linux python3
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 icoutils imagemagick python3-pefile binutils
    dpkg-dev lintian groff man-db unzip git locales
    qemu-system-x86 mmdebstrap cpio zstd gzip)

# The Wine tests run the exe in the code pages these give: 932, 936 and 949.
TOLV_TEST_LOCALES=(ja_JP zh_CN ko_KR)

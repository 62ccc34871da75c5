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

# Makes the locales given as LANGUAGE_TERRITORY (UTF-8) or LANGUAGE_TERRITORY.CHARSET where they
# are missing; -c, since a charset may lack some of the locale's own characters.
tolv_make_locales() {
    local l charset sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    for l in "$@"; do
        charset=UTF-8
        [ "${l#*.}" = "$l" ] || charset=${l#*.}
        locale -a | grep -qix "${l%%.*}.$(printf %s "$charset" | tr -d -)" ||
            $sudo localedef -c -i "${l%%.*}" -f "$charset" "${l%%.*}.$charset" 2>/dev/null
    done
}

# Enough to build the native port (the configure step also wants GoogleTest).
TOLV_BUILD_PACKAGES=(cmake ninja-build clang libgtest-dev libgmock-dev)

# Enough to build both packages: the native port, the 32-bit exe,
# dpkg-shlibdeps for the .deb's dependencies, and Python to fix the zip's order.
TOLV_PACKAGE_PACKAGES=("${TOLV_BUILD_PACKAGES[@]}" g++-mingw-w64-i686 dpkg-dev python3)

# Everything the whole test suite needs: the cross compilers for the Windows
# exe and its 64-bit test twin, Wine to run them, PE tools, sanitizer and
# fuzzer runtimes, valgrind, what the integration tests call (bash-completion
# loads the completion there), and the tools
# that build and check the packages (git clones the commit that is packed twice),
# and qemu with what makes the Debian images that the VM tests boot. Each name
# is one that Debian 12 and 13 both have (libclang-rt-dev is clang's own version).
TOLV_TEST_PACKAGES=("${TOLV_BUILD_PACKAGES[@]}"
    libclang-rt-dev clang-format valgrind strace procps util-linux mount python3
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 icoutils imagemagick python3-pefile binutils
    dpkg-dev lintian groff man-db unzip git locales bash-completion
    qemu-system-x86 mmdebstrap cpio zstd gzip)

# The Wine tests run the exe in the code pages these give: 932, 936, 949 and UTF-8 (65001, as Wine
# gives for hi_IN); and 932 where file names are KOI8-R, whose Cyrillic takes one byte to 932's two,
# so that a name of 259 bytes in 932 is a file name that Linux can hold (tests/wine/cases.txt).
TOLV_TEST_LOCALES=(ja_JP zh_CN ko_KR hi_IN ja_JP.KOI8-R)

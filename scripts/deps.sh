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

# Enough to build the native port (the configure step also wants GoogleTest).
TOLV_BUILD_PACKAGES=(cmake ninja-build clang libgtest-dev)

# Enough to build both packages: the native port, the 32-bit exe, and
# dpkg-shlibdeps for the .deb's dependencies.
TOLV_PACKAGE_PACKAGES=("${TOLV_BUILD_PACKAGES[@]}" g++-mingw-w64-i686 dpkg-dev)

# Everything the whole test suite needs: the cross compilers for the Windows
# exe and its 64-bit test twin, Wine to run them, PE tools, sanitizer and
# fuzzer runtimes, valgrind, what the integration tests call, and the tools
# that build and check the packages.
TOLV_TEST_PACKAGES=("${TOLV_BUILD_PACKAGES[@]}"
    libclang-rt-14-dev clang-format valgrind strace procps util-linux python3
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 icoutils imagemagick python3-pefile binutils
    dpkg-dev lintian groff man-db unzip)

# wine64 runs the 32-bit exe in its WoW64 mode once it has Wine's i386 PE DLLs,
# the folder i386-windows of libwine:i386 in wine64's version. They are fetched
# under an apt configuration of their own, so the system's architectures stay
# as they are, and kept in a cache. Prints the folder for WINEDLLPATH.
tolv_wine_i386_dlls() {
    local version codename mirror cache tmp
    version=$(dpkg-query -W -f='${Version}' wine64)
    cache=${TOLV_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tolvenar}/wine-i386-$version
    if [ ! -d "$cache/i386-windows" ]; then
        codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
        mirror=$(sed -nE 's/^URIs: *([^ ]+).*/\1/p; s/^deb +(\[[^]]*\] +)?([^ ]+).*/\2/p' \
            /etc/apt/sources.list /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v security | head -1)
        tmp=$(mktemp -d)
        chown _apt "$tmp" 2>/dev/null || true # apt downloads as that user when root
        echo "deb [arch=i386] $mirror $codename main" >"$tmp/sources.list"
        local apt=(-qq -o APT::Architectures=i386 -o APT::Architecture=i386
            -o Dir::Etc::sourcelist="$tmp/sources.list" -o Dir::Etc::sourceparts=/dev/null
            -o Dir::State::Lists="$tmp/lists" -o Dir::Cache="$tmp/cache" -o Dir::State::status=/dev/null)
        mkdir -p "$tmp/lists/partial" "$tmp/cache/archives/partial"
        echo "Fetching libwine:i386 $version from $mirror into $cache" >&2
        apt-get "${apt[@]}" update >&2 &&
            (cd "$tmp" && apt-get "${apt[@]}" download "libwine:i386=$version" >&2) &&
            dpkg -x "$tmp"/libwine_*.deb "$tmp/x" &&
            mkdir -p "$cache.part" &&
            mv "$tmp/x/usr/lib/i386-linux-gnu/wine/i386-windows" "$cache.part/" &&
            mv -T "$cache.part" "$cache" || { rm -rf "$tmp" "$cache.part"; return 1; }
        rm -rf "$tmp"
    fi
    echo "$cache"
}

# Sourced by the Windows build scripts. What Debian does not package for mingw is built from
# Debian's own source packages, from the same archive and suites this machine already uses:
# nothing prebuilt, nothing from anywhere else. Needs root (apt-get).

ORVANE_WIN_CACHE=${ORVANE_WIN_CACHE:-/var/cache/orvane/win-deps}

# Adds a deb-src twin of the machine's Debian sources once, and refreshes the lists when it does.
ensure_deb_src() {
    local list=/etc/apt/sources.list.d/orvane-deb-src.sources
    local base=/etc/apt/sources.list.d/debian.sources
    if [ ! -f "$list" ]; then
        if [ -f "$base" ]; then
            sed 's/^Types: deb$/Types: deb-src/' "$base" >"$list"
        else
            grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' >"${list%.sources}.list"
        fi
        apt-get update -qq
    elif ! apt-cache showsrc libjsoncpp >/dev/null 2>&1 || [ -z "$(apt-cache showsrc libjsoncpp 2>/dev/null)" ]; then
        apt-get update -qq
    fi
}

# The version Debian's sources hold for a source package, e.g. "1.9.5-4".
debian_source_version() {
    apt-cache showsrc "$1" | awk '/^Version:/ { print $2; exit }'
}

# debian_source NAME: unpacks NAME's source (Debian's patches applied) under the cache once and
# prints its folder.
debian_source() {
    local name=$1 version dir
    version=$(debian_source_version "$name")
    [ -n "$version" ] || { echo "win-source: no source package $name" >&2; return 1; }
    dir="$ORVANE_WIN_CACHE/src/$name-$version"
    if [ ! -f "$dir/.unpacked" ]; then
        rm -rf "$dir"
        mkdir -p "$dir"
        (cd "$dir" && apt-get source -qq "$name=$version" >/dev/null) || return 1
        touch "$dir/.unpacked"
    fi
    find "$dir" -mindepth 1 -maxdepth 1 -type d | head -n 1
}

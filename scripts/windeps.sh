#!/usr/bin/env bash
# Builds the static Windows libraries of the cross build (pugixml, nlohmann-json,
# fmt, libsodium, libcurl with Schannel, libzip, GoogleTest) from Debian's source
# packages with the mingw-w64 toolchain, into a cached prefix outside the work
# tree. Prints the prefix as the last line of its output.
#
# The prefix is $VNTX_CACHE_DIR (default ~/.cache) / vntx-windeps-<key>, where
# the key is a hash of this script, the toolchain file, the toolchain and zlib
# package versions and the source package versions. A prefix with a .complete
# marker is used as it is; anything else is rebuilt from scratch.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
TC=$ROOT/cmake/mingw-w64.cmake
CACHE_DIR=${VNTX_CACHE_DIR:-$HOME/.cache}
JOBS=${JOBS:-2}
log() { echo "windeps: $*" >&2; }

# source package -> binary package whose candidate version names the source version
SOURCES=(pugixml:libpugixml-dev nlohmann-json3:nlohmann-json3-dev fmtlib:libfmt-dev
         libsodium:libsodium-dev curl:libcurl4-openssl-dev libzip:libzip-dev)
TOOLCHAIN_PKGS=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
                libz-mingw-w64-dev googletest)

candidate() { apt-cache policy "$1" 2>/dev/null | awk '/Candidate:/{print $2}'; }

# "source version" of every source package, in one pass over the package
# cache: the version of the source that built the candidate of its binary
# package ("Source: libzip (1.7.3-1)" for a binary-only rebuild).
source_versions() {
    local entry bins=() specs=()
    for entry in "${SOURCES[@]}"; do bins+=("${entry#*:}"); done
    while read -r bin cand; do specs+=("$bin=$cand"); done < <(
        apt-cache policy "${bins[@]}" 2>/dev/null | awk '/^[^ ]/{sub(":$","",$1); p=$1} /Candidate:/{print p, $2}')
    apt-cache show --no-all-versions "${specs[@]}" 2>/dev/null | awk -F': ' '
        /^Package:/{pkg=$2; src=""} /^Source:/{src=$2} /^Version:/{ver=$2}
        /^$/{ if (pkg != "") print pkg, src, ver; pkg="" }
        END{ if (pkg != "") print pkg, src, ver }' |
    while read -r pkg rest; do
        for entry in "${SOURCES[@]}"; do
            [ "${entry#*:}" = "$pkg" ] || continue
            local ver=${rest##* } srcver=$rest
            if [[ $srcver == *"("*")"* ]]; then srcver=${srcver#*(}; srcver=${srcver%%)*}; else srcver=$ver; fi
            echo "${entry%%:*} $srcver"
        done
    done
}

if [ "$(candidate libpugixml-dev)" = "" ] || [ "$(candidate libpugixml-dev)" = "(none)" ]; then
    log "package lists are empty, running apt-get update"
    SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -qq
fi

declare -A VERSION
manifest=$(
    sha256sum "$0" "$TC" | awk '{print $1}'
    dpkg-query -W "${TOOLCHAIN_PKGS[@]}"
    source_versions | sort
)
while read -r src ver; do VERSION[$src]=$ver; done < <(printf '%s\n' "$manifest" | grep -v '^[0-9a-f]\{64\}$' | grep -v $'\t')
for entry in "${SOURCES[@]}"; do
    [ -n "${VERSION[${entry%%:*}]:-}" ] || { log "no version known for ${entry%%:*}"; exit 1; }
done
KEY=$(printf '%s\n' "$manifest" | sha256sum | cut -c1-16)
PREFIX=$CACHE_DIR/vntx-windeps-$KEY

if [ -f "$PREFIX/.complete" ]; then
    log "cache hit: $PREFIX"
    echo "$PREFIX"
    exit 0
fi

mkdir -p "$CACHE_DIR"
exec 9>"$CACHE_DIR/vntx-windeps.lock"
flock 9
if [ -f "$PREFIX/.complete" ]; then   # built by a concurrent run meanwhile
    echo "$PREFIX"
    exit 0
fi

log "building $PREFIX (cache miss)"
start=$SECONDS
rm -rf "$PREFIX"
mkdir -p "$PREFIX"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vntx-windeps.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# --- sources: a private apt state with deb-src entries, so the system's own
# package lists and source configuration stay untouched.
APTDIR=$WORK/apt
mkdir -p "$APTDIR/parts" "$APTDIR/lists/partial" "$APTDIR/cache/archives/partial"
: >"$APTDIR/empty.list"
if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$APTDIR/parts/debian-src.sources"
else
    grep -hE '^deb[[:space:]].*debian' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
        sed 's/^deb /deb-src /' >"$APTDIR/parts/debian-src.list"
fi
APT=(apt-get -qq -o "Dir::Etc::SourceList=$APTDIR/empty.list" -o "Dir::Etc::SourceParts=$APTDIR/parts"
     -o "Dir::State::Lists=$APTDIR/lists" -o "Dir::Cache=$APTDIR/cache" -o Debug::NoLocking=1
     -o APT::Sandbox::User=root)
"${APT[@]}" update >&2 || { log "apt-get update of the source index failed"; exit 1; }
SRC=$WORK/src
mkdir -p "$SRC"
for entry in "${SOURCES[@]}"; do
    src=${entry%%:*}
    if ! (cd "$SRC" && "${APT[@]}" source "$src=${VERSION[$src]}" >"$WORK/$src.fetch" 2>&1); then
        log "$src ${VERSION[$src]} is not in the source index; taking its newest version"
        (cd "$SRC" && "${APT[@]}" source "$src" >"$WORK/$src.fetch" 2>&1) || { cat "$WORK/$src.fetch" >&2; exit 1; }
    fi
done
srcdir() { find "$SRC" -maxdepth 1 -mindepth 1 -type d -name "$1" | head -n1; }
log "sources ready after $((SECONDS - start)) s"

CM=(cmake -G Ninja "-DCMAKE_TOOLCHAIN_FILE=$TC" -DCMAKE_BUILD_TYPE=Release "-DVNTX_WINDEPS=$PREFIX"
    "-DCMAKE_INSTALL_PREFIX=$PREFIX" "-DCMAKE_PREFIX_PATH=$PREFIX" -DBUILD_SHARED_LIBS=OFF)

cmake_lib() {  # name source-dir extra-args...
    local name=$1 dir=$2
    shift 2
    "${CM[@]}" -S "$dir" -B "$WORK/build-$name" "$@"
    cmake --build "$WORK/build-$name" -j"$LANE_JOBS"
    cmake --install "$WORK/build-$name"
}

lane_curl() {
    cmake_lib curl "$(srcdir 'curl-*')" -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_ZLIB=ON \
        -DCURL_DISABLE_LDAP=ON -DCURL_USE_LIBSSH2=OFF -DUSE_LIBIDN2=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF \
        -DUSE_NGHTTP2=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF -DCURL_STATICLIB=ON
}

lane_rest() {
    cmake_lib json "$(srcdir 'nlohmann-json3-*')" -DJSON_BuildTests=OFF
    cmake_lib pugixml "$(srcdir 'pugixml-*')" -DPUGIXML_BUILD_TESTS=OFF
    cmake_lib fmt "$(srcdir 'fmtlib-*')" -DFMT_TEST=OFF -DFMT_DOC=OFF
    cmake_lib googletest /usr/src/googletest -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
    cmake_lib libzip "$(srcdir 'libzip-*')" -DENABLE_OPENSSL=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF \
        -DENABLE_COMMONCRYPTO=OFF -DENABLE_WINDOWS_CRYPTO=ON -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF \
        -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF
    # The source package is a git snapshot without configure; autogen.sh would
    # fetch config.guess from the network, autoreconf does not. Without
    # --disable-ssp every consumer would have to link libssp.
    local sodium
    sodium=$(srcdir 'libsodium-*')
    (cd "$sodium" && autoreconf -fi)
    mkdir -p "$WORK/build-sodium"
    (cd "$WORK/build-sodium" && "$sodium/configure" --host=x86_64-w64-mingw32 "--prefix=$PREFIX" \
        --disable-shared --enable-static --disable-ssp && make -j"$LANE_JOBS" && make install)
}

# Two lanes: curl's configure step alone takes about half a minute on one core.
LANE_JOBS=$(( JOBS > 1 ? JOBS / 2 : 1 ))
LANE_JOBS=$LANE_JOBS lane_curl >"$WORK/curl.log" 2>&1 &
curl_pid=$!
rest_ok=0
lane_rest >"$WORK/rest.log" 2>&1 || rest_ok=$?
curl_ok=0
wait "$curl_pid" || curl_ok=$?
if [ "$rest_ok" -ne 0 ] || [ "$curl_ok" -ne 0 ]; then
    [ "$rest_ok" -ne 0 ] && { log "build failed:"; tail -n 40 "$WORK/rest.log" >&2; }
    [ "$curl_ok" -ne 0 ] && { log "curl build failed:"; tail -n 40 "$WORK/curl.log" >&2; }
    exit 1
fi

# Only static archives may be in the prefix: an import library would make the
# program depend on a DLL.
if find "$PREFIX" -name '*.dll.a' -o -name '*.dll' | grep -q .; then
    log "a DLL or import library was installed:"
    find "$PREFIX" -name '*.dll.a' -o -name '*.dll' >&2
    exit 1
fi
printf '%s\n' "$manifest" >"$PREFIX/MANIFEST"
touch "$PREFIX/.complete"
log "built in $((SECONDS - start)) s ($(du -sh "$PREFIX" | cut -f1))"
echo "$PREFIX"

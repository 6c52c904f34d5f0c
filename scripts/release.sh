#!/usr/bin/env bash
# Makes a release of the Windows program from the cross build:
#   <release>/setup_Ventrix_P3D_d_v<V>.exe  the installer (NSIS): Ventrix_P3D.exe, input\*.enc,
#                                           docs\ (README.txt, ReleaseNotes.pdf, licenses\)
#   <release>/setup_Ventrix_P3D_d_v<V>.zip  the archive the program's update check fetches
#   <release>/server/                       the download server's tree to publish: the data files,
#                                           stock park files, versions.json ("p3d" = V),
#                                           downloads/release/<zip>, downloads/docs/ReleaseNotes.pdf
#   WIN_BUILD_DIR    the cross build (default build-windows; scripts/build-windows.sh makes it)
#   RELEASE_VERSION  the version the release is published as (default: the program's own)
#   RELEASE_DIR      where it goes (default <build>/release)
#   WIN_ENV_READY=1  the caller has set up Wine for the build (scripts/build-windows.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=$(cd "${WIN_BUILD_DIR:-build-windows}" && pwd)
EXE=$BUILD_DIR/src/platform/win32/Ventrix_P3D.exe
REFDATA=$BUILD_DIR/tools/refdata/refdata.exe
for f in "$EXE" "$REFDATA" "$BUILD_DIR/input/dbase.enc" "$BUILD_DIR/server/downloads/versions.json"; do
    [ -e "$f" ] || { echo "release: $f missing (scripts/build-windows.sh builds it)"; exit 1; }
done
VERSION=${RELEASE_VERSION:-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD_DIR/CMakeCache.txt")}
[[ $VERSION =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "release: bad version '$VERSION'"; exit 1; }
OUT=${RELEASE_DIR:-$BUILD_DIR/release}
NAME=setup_Ventrix_P3D_d_v$VERSION

if ! command -v makensis >/dev/null; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    echo "release: installing nsis"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends nsis >/dev/null
fi

rm -rf "$OUT"
STAGE=$OUT/stage
mkdir -p "$STAGE/input" "$STAGE/docs/licenses/software"
cp "$EXE" "$STAGE/"
cp "$BUILD_DIR"/input/{dbase,airports,AIG-regcodes}.enc "$STAGE/input/"
cp installer/README.txt "$STAGE/docs/README.txt"
python3 installer/text_to_pdf.py installer/ReleaseNotes.txt "$STAGE/docs/ReleaseNotes.pdf" \
    "Ventrix_P3D $VERSION release notes"

# The licenses of the data the installer ships (the sources of the .enc
# files) and of the libraries linked into the program.
LIC=$STAGE/docs/licenses
cp data/README.md "$LIC/DATA-SOURCES.md"
for d in aircraft_types airlines airports registrations scenery regcodes; do
    cp "data/$d/PROVENANCE.md" "$LIC/PROVENANCE-$d.md"
done
cp data/airlines/vrs_standing_data_airlines_CREDITS.md "$LIC/"
for l in CC0-1.0 GPL-2; do
    if [ -f "/usr/share/common-licenses/$l" ]; then
        cp "/usr/share/common-licenses/$l" "$LIC/$l.txt"
    else
        echo "release: /usr/share/common-licenses/$l missing: $l.txt not shipped" >&2
    fi
done
for p in curl:libcurl4-openssl-dev fmt:libfmt-dev pugixml:libpugixml-dev libsodium:libsodium-dev \
         libzip:libzip-dev nlohmann-json:nlohmann-json3-dev zlib:zlib1g-dev mingw-w64-runtime:mingw-w64-common \
         gcc-runtime:gcc-mingw-w64-base; do
    if [ -f "/usr/share/doc/${p#*:}/copyright" ]; then
        cp "/usr/share/doc/${p#*:}/copyright" "$LIC/software/${p%%:*}.txt"
    else
        echo "release: no copyright file of ${p#*:}: ${p%%:*} not listed" >&2
    fi
done

makensis -V2 -DVERSION="$VERSION" -DSTAGE="$STAGE" -DOUTFILE="$OUT/$NAME.exe" installer/Ventrix_P3D.nsi
echo "release: $NAME.exe ($(stat -c %s "$OUT/$NAME.exe") bytes)"

# The download server's tree, with this release in it.
cp -r "$BUILD_DIR/server" "$OUT/server"
export WINEPREFIX=${WINEPREFIX:-$BUILD_DIR/wineprefix} WINEDEBUG=${WINEDEBUG:--all,err+module}
wine "$REFDATA" --server "$OUT/server" --installer "$OUT/$NAME.exe" --program-version "$VERSION" \
    --release-notes "$STAGE/docs/ReleaseNotes.pdf" </dev/null
[ "${WIN_ENV_READY:-0}" = 1 ] || wineserver -w
cp "$OUT/server/downloads/release/$NAME.zip" "$OUT/"
echo "release: $OUT/$NAME.exe, $OUT/$NAME.zip and the server tree $OUT/server"

#!/usr/bin/env bash
# The main job: installs what is missing, builds, prepares an install folder and
# runs Ventrix_P3D in it against the stand-ins that exist so far.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}
OUT=$PWD/demo-out
INSTALL=$OUT/install
DEMO_SECONDS=${DEMO_SECONDS:-15}
rm -rf "$OUT"
mkdir -p "$INSTALL"/{docs,input,output,airports} "$OUT/appdata" "$OUT/run" "$OUT/P3Dv5"
# Reference data built with the program.
if [ -d "$BUILD_DIR/input" ]; then cp -r "$BUILD_DIR/input/." "$INSTALL/input/"; fi
# The simulator as the registry knows it (the registry stand-in is a file).
export VNTX_REGISTRY=$OUT/registry.ini
printf '[HKLM\\SOFTWARE\\Lockheed Martin\\Prepar3D v5]\nSetupPath=%s\n' "$OUT/P3Dv5" > "$VNTX_REGISTRY"
export XDG_CONFIG_HOME=$OUT/appdata VNTX_RUNTIME_DIR=$OUT/run

echo "demo: running Ventrix_P3D in $INSTALL for $DEMO_SECONDS s (no simulator stand-in yet: it waits for one)"
( sleep "$DEMO_SECONDS"; echo close ) | (cd "$INSTALL" && "$OLDPWD/$BUILD_DIR/src/core/Ventrix_P3D") || true
echo
echo "demo: Log.txt"
cat "$INSTALL/Log.txt"
echo
echo "demo: parameters.xml in $XDG_CONFIG_HOME/Ventrix_P3D"
grep -c '<parameter ' "$XDG_CONFIG_HOME/Ventrix_P3D/parameters.xml" | xargs echo "  settings stored:"

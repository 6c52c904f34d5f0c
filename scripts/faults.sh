#!/usr/bin/env bash
# Faults laid on the real program end to end (simhost killed and stalled, the
# feed dropped, the traffic port taken, a datagram flood, a read-only install,
# a full disk, SIGTERM during a livery scan, a download cut half way); prints
# a table of what happened.
# Needs the build of scripts/build.sh. The tmpfs and read-only mounts need
# root; without it a file-size limit and file modes stand in (the table says so).
# FAULTS_STALL: seconds simhost stalls (default 30). The program has no time-out
# of its own on a silent simulator (only its 8 MB send queue, which 30 s of
# traffic does not fill), so a shorter stall tests the same path.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
exec python3 tests/support/faults.py --build "$BUILD_DIR" --out "$BUILD_DIR/faults" \
  --stall "${FAULTS_STALL:-30}" --jobs "${FAULTS_JOBS:-4}" "$@"

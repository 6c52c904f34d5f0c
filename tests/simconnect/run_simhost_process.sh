#!/usr/bin/env bash
# Starts the simhost program on a free port with its own registry file, runs
# the client test that finds it through that registry, and stops simhost.
set -euo pipefail
simhost=$1
client=$2
dir=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$dir"' EXIT
export VNTX_REGISTRY=$dir/registry.ini VNTX_RUNTIME_DIR=$dir VNTX_PUBLIC_DOCUMENTS=$dir HOME=$dir
echo "Airbus A320 Swiss" > "$dir/titles.txt"
mkfifo "$dir/in"
"$simhost" --port 0 --pipe "" --p3d 6 --titles "$dir/titles.txt" --trace "$dir/trace.jsonl" \
  <"$dir/in" >"$dir/out" 2>&1 &
pid=$!
exec 3>"$dir/in"  # keep simhost's stdin open
for _ in $(seq 100); do grep -q "port" "$dir/out" 2>/dev/null && break; sleep 0.05; done
cat "$dir/out"
grep -q "SimConnect_Port_IPv4=" "$VNTX_REGISTRY"
VNTX_EXTERNAL_SIMHOST=$dir "$client" --gtest_filter='ExternalSimhost.*'
echo exit >&3
wait "$pid"
grep -q '"op":"AICreateNonATCAircraft"' "$dir/trace.jsonl"

#!/usr/bin/env bash
# The demo: sets up and builds, packs a sample payload with the vendor tool,
# then runs the carrier twice as one user in a throwaway sandbox (its own
# HOME, XDG_CONFIG_HOME and TMPDIR) and shows what each run left behind.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
ensure_packages
cmake --workflow --preset host-release >/dev/null
bin=build/host-release

sandbox=$(mktemp -d)
trap 'rm -rf "$sandbox"' EXIT
mkdir -p "$sandbox/home/.config" "$sandbox/tmp" "$sandbox/payload" "$sandbox/dist"

# The sample setup program prints the report it finds beside itself.
cat > "$sandbox/payload/Setup.exe" <<'SETUP'
#!/bin/sh
d=$(dirname "$0")
echo "    setup.exe started; it found Analysis.ini:"
sed 's/^/      /; s/\r$//' "$d/Analysis.ini"
touch "$d/setup-done"
SETUP
printf 'sample cabinet %.0s' $(seq 1 2000) > "$sandbox/payload/data1.cab"
printf '[Startup]\r\nProduct=Sample\r\n' > "$sandbox/payload/Setup.ini"
head -c 417 /dev/zero > "$sandbox/payload/layout.bin"

carrier="$sandbox/dist/SampleSetup_20261211001.exe"
"$bin/tools/carrier/carrier" pack --image "$bin/launcher/launcher" -o "$carrier" \
  "$sandbox/payload/Setup.exe" "$sandbox/payload/data1.cab" \
  "$sandbox/payload/Setup.ini" "$sandbox/payload/layout.bin"
chmod +x "$carrier"
echo "== carrier $(basename "$carrier")"
"$bin/tools/carrier/carrier" list "$carrier"

run() {
  rm -f "$sandbox/tmp/setup-done"
  env -i HOME="$sandbox/home" XDG_CONFIG_HOME="$sandbox/home/.config" \
    TMPDIR="$sandbox/tmp/" PATH=/usr/bin:/bin "$carrier"
  echo "    launcher exit code: $?"
  for _ in $(seq 1 100); do [ -e "$sandbox/tmp/setup-done" ] && break; sleep 0.05; done
}

echo
echo "== first run by this user: the code from the file name"
run
echo
echo "== second run by the same user: the repeat code"
run
echo
echo "== the temporary directory after both runs"
(cd "$sandbox/tmp" && ls -l --time-style=+ | sed 's/^/    /')

#!/usr/bin/env bash
# A carrier made by carrier pack and then code-signed with osslsigncode, by a
# self-signed certificate made for the run, still delivers its payload.
#
#   carrier_signed.sh host TOOL PROBE IMAGE
#     IMAGE (the shipped i686 launcher) packed by TOOL and signed: osslsigncode
#     verifies the signature and rejects a copy changed after signing, carrier
#     check and list say it is signed, and PROBE (extraction on this system)
#     gives back every entry.
#   carrier_signed.sh wine WINE TOOL_EXE LAUNCHER_EXE SETUP_EXE
#     The x86_64 launcher packed and checked by the Windows tool under WINE
#     and signed; run under WINE, it extracts every entry, writes the report
#     and starts SETUP_EXE (which copies the report and marks that it ran).
#     Needs WINEPREFIX, as the tests' Wine fixture sets it.
set -euo pipefail

fail() {
  echo "carrier_signed: $*" >&2
  exit 1
}

for program in osslsigncode openssl cmp; do
  command -v "$program" >/dev/null || fail "$program is missing (bash scripts/setup.sh installs it)"
done

mode=${1:-}
case "$mode" in
  host) [ $# -eq 4 ] || fail "usage: $0 host TOOL PROBE IMAGE" ;;
  wine) [ $# -eq 5 ] || fail "usage: $0 wine WINE TOOL_EXE LAUNCHER_EXE SETUP_EXE"
        : "${WINEPREFIX:?carrier_signed: WINEPREFIX must name the Wine prefix of the tests}" ;;
  *) fail "usage: $0 host|wine ..." ;;
esac

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in" "$work/tmp"

# Deterministic bytes that differ with the seed: AES-CTR over zeros.
bytes() {
  head -c "$1" /dev/zero |
    openssl enc -aes-128-ctr -nosalt -K "$(printf '%032x' "$2")" -iv 00000000000000000000000000000000
}

# A self-signed code signing certificate, made for this run only.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Carrier Test Vendor" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>"$work/openssl.log" || {
  cat "$work/openssl.log" >&2
  fail "openssl could not make a certificate"
}

sign() {
  osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Carrier test" -h sha256 \
    -in "$1" -out "$2" >"$work/sign.log" 2>&1 || {
    cat "$work/sign.log" >&2
    fail "osslsigncode could not sign $1"
  }
}

# The signature must be whole: its digest matches the file and its
# certificate, given as the trusted root, verifies it.
verify() {
  osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$work/verify.log" 2>&1
}

# Every entry extracted byte for byte, and nothing else but what the caller
# names as expected besides.
compare_extracted() {
  local name extra
  for name in "${entries[@]}"; do
    cmp "$work/in/$name" "$work/tmp/$name" || fail "$name was not extracted as packed"
  done
  extra=$(cd "$work/tmp" && ls -A)
  for name in "${entries[@]}" "$@"; do
    extra=$(grep -vxF -- "$name" <<<"$extra" || true)
  done
  [ -z "$extra" ] || fail "extraction left files that are no entry: $extra"
}

host_run() {
  local tool=$1 probe=$2 image=$3
  [ -f "$image" ] || fail "missing $image: build it first with cmake --workflow --preset win32 (scripts/test.sh does)"

  bytes 300001 1 >"$work/in/data1.cab"
  bytes 165888 2 >"$work/in/Setup.exe"
  printf '[Startup]\r\nAppName=Test\r\n' >"$work/in/Setup.ini"
  : >"$work/in/layout.bin"
  entries=(Setup.exe data1.cab Setup.ini layout.bin)

  "$tool" pack --image "$image" -o "$work/carrier.exe" "${entries[@]/#/$work/in/}" || fail "carrier pack failed"
  sign "$work/carrier.exe" "$work/signed.exe"
  verify "$work/signed.exe" || {
    cat "$work/verify.log" >&2
    fail "osslsigncode verify rejects the signed carrier"
  }
  # The same verification must catch a payload changed after signing.
  cp "$work/signed.exe" "$work/changed.exe"
  printf 'X' | dd of="$work/changed.exe" bs=1 seek=$(($(stat -c %s "$image") + 1000)) conv=notrunc status=none
  if verify "$work/changed.exe"; then
    fail "osslsigncode verify accepts a carrier changed after signing"
  fi

  local size table
  size=$(stat -c %s "$work/carrier.exe")
  table=$(($(stat -c %s "$work/signed.exe") - size))
  [ $((size % 8)) -eq 0 ] || fail "the packed carrier's size $size is not a multiple of 8"
  local note="signed: the payload ends at $size, where a certificate table of $table bytes starts"
  "$tool" check "$work/signed.exe" >"$work/check.out" || {
    cat "$work/check.out" >&2
    fail "carrier check rejects the signed carrier"
  }
  [ "$(cat "$work/check.out")" = "$work/signed.exe: sound, 4 entries, $note" ] || {
    cat "$work/check.out" >&2
    fail "carrier check does not say the carrier is sound and signed"
  }
  "$tool" list "$work/signed.exe" >"$work/list.out" || fail "carrier list fails on the signed carrier"
  grep -qF ", $note" "$work/list.out" || {
    cat "$work/list.out" >&2
    fail "carrier list does not say the carrier is signed"
  }

  "$probe" "$work/signed.exe" "$work/tmp/" >/dev/null || fail "extraction failed"
  compare_extracted
}

# A Unix path as Wine's drive Z: shows it.
win_path() {
  local path
  path=$(realpath -m "$1")
  printf 'Z:%s' "${path//\//\\}"
}

# Runs a program under Wine with its output in files: Wine's background
# processes would hold a pipe open.
under_wine() {
  "$wine" "$@" </dev/null >"$work/wine.out" 2>"$work/wine.err"
}

wine_run() {
  wine=$1
  local tool=$2 launcher=$3 setup=$4
  local marker='HKCU\Software\Corvane'

  cp "$setup" "$work/in/Setup.exe"
  bytes 300001 1 >"$work/in/data1.cab"
  : >"$work/in/layout.bin"
  entries=(Setup.exe data1.cab layout.bin)
  local carrier="$work/Product_12345678901.exe"

  under_wine "$tool" pack --image "$(win_path "$launcher")" -o "$(win_path "$work/packed.exe")" \
    "$(win_path "$work/in/Setup.exe")" "$(win_path "$work/in/data1.cab")" "$(win_path "$work/in/layout.bin")" || {
    cat "$work/wine.err" >&2
    fail "carrier pack failed under Wine"
  }
  sign "$work/packed.exe" "$carrier"
  verify "$carrier" || {
    cat "$work/verify.log" >&2
    fail "osslsigncode verify rejects the signed carrier"
  }
  under_wine "$tool" check "$(win_path "$carrier")" || {
    cat "$work/wine.out" "$work/wine.err" >&2
    fail "carrier check rejects the signed carrier under Wine"
  }
  tr -d '\r' <"$work/wine.out" | grep -q ': sound, 3 entries, signed: the payload ends at ' || {
    cat "$work/wine.out" >&2
    fail "carrier check does not say the carrier is sound and signed"
  }

  # A first run for this user: no marker key, so the report carries the
  # file name's code.
  under_wine reg delete "$marker" /f || true
  local temp
  temp="$(win_path "$work/tmp")\\"
  under_wine cmd /c "set TMP=$temp&& set TEMP=$temp&& start /wait \"\" \"$(win_path "$carrier")\"" || {
    cat "$work/wine.err" >&2
    fail "the signed carrier did not run to exit code 0 under Wine"
  }
  local waited=0
  until [ -f "$work/tmp/ran.txt" ]; do
    [ $waited -lt 300 ] || fail "the setup program did not run"
    sleep 0.1
    waited=$((waited + 1))
  done
  under_wine reg delete "$marker" /f || true

  local report
  report=$(printf '[Setup]\r\nOEM=12345678901\r\nTimes=1\r\n_')
  [ "$(cat "$work/tmp/Analysis.ini"; printf _)" = "$report" ] || fail "the report is not as expected"
  [ "$(cat "$work/tmp/seen.ini"; printf _)" = "$report" ] || fail "the setup program saw another report"
  compare_extracted Analysis.ini seen.ini ran.txt
}

"${mode}_run" "${@:2}"
echo "carrier_signed: $mode: signed carrier verified, checked and extracted"

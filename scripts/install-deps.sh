#!/usr/bin/env bash
# Installs every Debian package that the build, the tests, the demo and the
# benchmarks need. Idempotent: when everything is present it only checks and
# returns, without touching the network.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  clang-14 libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libdcmtk-dev dcmtk
  libssl-dev openssl
  qt6-base-dev qt6-qpa-plugins libgl-dev
  libpugixml-dev
  libcurl4-openssl-dev nlohmann-json3-dev
  orthanc orthanc-dicomweb
  hyperfine python3 python3-pydicom
  binutils file procps time
  locales
)

# --- French locale (support library tests of locale-aware dates and numbers) ---
# Compiles fr_FR.UTF-8 from the `locales` package when it is not there yet.
ensure_fr_locale() {
  locale -a 2>/dev/null | grep -ix 'fr_FR.utf-\?8' >/dev/null && return 0
  local run=
  [[ $(id -u) -ne 0 ]] && run=sudo
  $run localedef -i fr_FR -f UTF-8 fr_FR.UTF-8
}
# --- end French locale ---

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && { ensure_fr_locale; exit 0; }

if [[ $(id -u) -ne 0 ]]; then
  sudo=sudo
else
  sudo=
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# Packages such as orthanc start a system service when installed; the demo and
# the tests start their own nodes on their own ports, so keep services down.
policy=/usr/sbin/policy-rc.d
created_policy=0
if [[ ! -e $policy ]]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee $policy >/dev/null
  $sudo chmod +x $policy
  created_policy=1
fi
cleanup() { [[ $created_policy -eq 1 ]] && $sudo rm -f $policy; return 0; }
trap cleanup EXIT
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
ensure_fr_locale

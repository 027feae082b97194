#!/usr/bin/env bash
# Installs the Debian packages EchoWarden needs to build, test and be looked at.
# Quick and silent when everything is already there: apt is only touched for missing packages.
# Packages named on the command line are checked and installed along with these (the benchmarks'
# set-up adds its own that way).
set -euo pipefail

PACKAGES=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  iproute2 procps libcap2-bin
  xvfb xdotool imagemagick x11-utils
  fonts-dejavu-core
  # end-to-end and fault checks: another program pinging loopback; chattr for a read-only log
  iputils-ping e2fsprogs
  dbus-daemon # a private session bus for the desktop notification test
  "$@"
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg -s "$p" >/dev/null 2>&1; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

echo "$(basename "$0"): installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

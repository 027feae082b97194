#!/usr/bin/env bash
# Installs what only the benchmarks need, on top of scripts/install-deps.sh: the command-line
# pingers that the program's CPU is compared with (fping; iputils ping), the display server that
# the real program and the hello-world window are started on, and the X headers with which the
# benchmark sees a window being mapped. Quick and silent when everything is already there.
set -euo pipefail

PACKAGES=(
  fping iputils-ping
  xvfb libx11-dev
  iproute2 util-linux
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

echo "install-bench-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

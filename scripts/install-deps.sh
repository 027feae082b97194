#!/usr/bin/env bash
# Installs the Debian packages EchoWarden needs, by purpose:
#   install-deps.sh                 building and running the program (make build, make run)
#   install-deps.sh test            and the tests' tools (make test)
#   install-deps.sh package         and the Debian packaging tools (make package)
#   install-deps.sh pkg1 pkg2 ...   and these packages (the benchmarks' set-up adds its own)
# Quick and silent when everything is already there: apt is only touched for missing packages.
set -euo pipefail

# Building; qt6-base-dev brings the Qt libraries and platform plugins that running needs.
# The history: Qt SQL's SQLite driver for the store, Qt Charts (whose CMake package asks for
# Qt OpenGL's) for its window, and sqlite3 so that an operator can read the file as it stands.
PACKAGES=(cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
  libqt6sql6-sqlite qt6-charts-dev libqt6opengl6-dev sqlite3)
TEST_PACKAGES=(
  libgtest-dev libgmock-dev
  # private test networks; a program file with a capability
  iproute2 procps libcap2-bin
  # the end-to-end tests: a display server, an operator's hands, screenshots, a known font
  xvfb xdotool imagemagick x11-utils fonts-dejavu-core
  # end-to-end and fault checks: another program pinging loopback; chattr for a read-only log
  iputils-ping e2fsprogs
  dbus-daemon # a private session bus for the desktop notification test
  # the probe's end-to-end test scrapes it with a real Prometheus (asked with curl) and checks
  # it with promtool; smokeping_prober, for comparing the two side by side
  prometheus prometheus-smokeping-prober curl
  # the fuzz targets: clang with libFuzzer and the sanitizers' run-time, and its symbolizer
  clang-14 libclang-rt-14-dev llvm-14
)
# dpkg-shlibdeps finds the dependencies (with file); lintian checks the package.
PACKAGE_PACKAGES=(dpkg-dev file lintian)

for group in "$@"; do
  case "$group" in
    test) PACKAGES+=("${TEST_PACKAGES[@]}") ;;
    package) PACKAGES+=("${PACKAGE_PACKAGES[@]}") ;;
    *) PACKAGES+=("$group") ;;
  esac
done

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

#!/usr/bin/env bash
# Installs what only the benchmarks need, on top of what the build needs: the command-line
# pingers that the program's CPU is compared with (fping; iputils ping), mtr's GTK build (the
# graphical monitor it is also compared with: the "mtr" package, not "mtr-tiny"), the display
# server that the real program and the hello-world window are started on, and the X headers
# with which the benchmark sees a window being mapped; smokeping_prober, which the probe is
# compared with; Google Benchmark itself. Quick and silent when everything is already there.
set -euo pipefail
exec "$(dirname "$0")/install-deps.sh" libbenchmark-dev fping iputils-ping mtr xvfb libx11-dev iproute2 util-linux \
  prometheus-smokeping-prober

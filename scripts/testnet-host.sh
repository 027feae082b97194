#!/bin/sh
# testnet-host.sh CLIENT_NS HOST_NS N answering|silent|responder|impostor [RESPONDER OPTIONS]
# Wires test host N of the test fixture (tests/support/TestNet.h): a veth pair from the client
# namespace (h<N>: 10.77.N.1, fd42:77:N::1) to the host namespace (eth0: 10.77.N.2,
# fd42:77:N::2), both given as paths (/proc/PID/fd/FD). "silent" makes the host ignore echo
# requests; "responder" also starts icmp_delay_responder there with the options (built from
# this folder when needed), waits until it listens and prints its process id; "impostor" does
# the same with replies sent from a second address of the host (10.77.N.3, fd42:77:N::3).
# Returns once both ends of the link are running: the kernel drops what is sent before that.
set -eu
c=$1 h=$2 n=$3 mode=$4
shift 4
inc() { nsenter --net="$c" -- "$@"; }
inh() { nsenter --net="$h" -- "$@"; }
ip link add "h$n" netns "$c" type veth peer name eth0 netns "$h"
inc ip addr add "10.77.$n.1/24" dev "h$n"
inc ip -6 addr add "fd42:77:$n::1/64" dev "h$n" nodad
inc ip link set "h$n" up
# An address of the link that nobody owns is found unreachable in a tenth of a second, not 3 s.
for v in 4 6; do
    inc sysctl -qw "net.ipv$v.neigh.h$n.mcast_solicit=1" "net.ipv$v.neigh.h$n.retrans_time_ms=100"
done
inh ip addr add "10.77.$n.2/24" dev eth0
inh ip -6 addr add "fd42:77:$n::2/64" dev eth0 nodad
if [ "$mode" = impostor ]; then
    inh ip addr add "10.77.$n.3/24" dev eth0
    inh ip -6 addr add "fd42:77:$n::3/64" dev eth0 nodad
    set -- "$@" -4 "10.77.$n.3" -6 "fd42:77:$n::3"
    mode=responder
fi
inh ip link set eth0 up
[ "$mode" = answering ] || inh sysctl -qw net.ipv4.icmp_echo_ignore_all=1 net.ipv6.icmp.echo_ignore_all=1
i=0
until inc ip -o link show "h$n" | grep -q LOWER_UP && inh ip -o link show eth0 | grep -q LOWER_UP; do
    i=$((i + 1))
    [ $i -le 100 ] || { echo "the link to test host $n did not come up" >&2; exit 1; }
    sleep 0.03
done
[ "$mode" = responder ] || exit 0

src=$(dirname "$0")/icmp_delay_responder.c
bin=${TMPDIR:-/tmp}/ew-icmp-delay-responder-$(id -u)
if [ ! -x "$bin" ] || [ "$src" -nt "$bin" ]; then
    cc -O2 -o "$bin.$$" "$src" && mv -f "$bin.$$" "$bin"
fi
log=$(mktemp)
nsenter --net="$h" -- "$bin" -L 600 "$@" </dev/null >"$log" 2>&1 &
pid=$!
i=0
until grep -q "delay=" "$log"; do
    i=$((i + 1))
    if [ $i -gt 100 ] || ! kill -0 $pid 2>/dev/null; then
        cat "$log" >&2; rm -f "$log"; exit 1
    fi
    sleep 0.03
done
rm -f "$log"
echo $pid

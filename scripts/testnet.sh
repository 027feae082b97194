#!/bin/bash
# testnet.sh - build/tear down a private test network for trying EchoWarden by hand against
# hosts that answer, answer late or never answer, out of network namespaces on this machine
# (root only). The automated tests build their own (tests/support/TestNet.h) and do not
# need it. Safe to re-run: "up" rebuilds from scratch, "down" removes only what this script
# created. All traffic stays in the namespaces; the default namespace is not touched (no
# routes, no links).
#
#   testnet.sh up       create namespaces (idempotent: tears down old ones first)
#   testnet.sh down     delete namespaces, stop the delay responder (by pidfile PID)
#   testnet.sh status   show what exists
#   testnet.sh check    bounded ping/fping of every target from the client namespace
#   testnet.sh exec CMD run CMD inside the client namespace (ip netns exec ew-cli CMD)
#
# Run the program inside the client namespace "ew-cli"
# (e.g. `testnet.sh exec ./build/echowarden`). It has NO default route, so a wrong address
# fails with "Network is unreachable" instead of leaving the machine.
#
# Targets seen from ew-cli:
#   10.200.0.2   fd42:200::2     answers (kernel echo reply)
#   10.200.1.2   fd42:200:1::2   answers after +EW_TESTNET_SLOW_DELAY_MS (default 50 ms):
#                                tc netem if the kernel has sch_netem, otherwise
#                                icmp_delay_responder (C, built from this folder)
#   10.200.2.2   fd42:200:2::2   ignores echo requests (icmp_echo_ignore_all=1) -> timeouts
#   10.200.0.99  fd42:200::99    nobody owns it -> ARP/ND fails, "host unreachable" after ~3 s
#   10.200.9.0/24 fd42:200:9::/64 unreachable route -> immediate send error (ENETUNREACH/EHOSTUNREACH)
# ew-cli has ping_group_range "0 2147483647", so unprivileged SOCK_DGRAM ICMP works there.
# (A ULA prefix of its own, fd42:200::/48, so as not to clash with a LAN's fd00::/64.)
#
# Environment: EW_TESTNET_RUNDIR (default /tmp/ew-testnet) holds the responder binary,
# pidfile and log; EW_TESTNET_SLOW_DELAY_MS (default 50); EW_TESTNET_RESPONDER_LIFETIME_S
# (default 14400: the responder exits by itself after that, even if "down" is never run).
set -u
NS_CLI=ew-cli
NS_UP=ew-up
NS_SLOW=ew-slow
NS_MUTE=ew-mute
ALL_NS="$NS_CLI $NS_UP $NS_SLOW $NS_MUTE"
RUNDIR=${EW_TESTNET_RUNDIR:-/tmp/ew-testnet}
DELAY_MS=${EW_TESTNET_SLOW_DELAY_MS:-50}
LIFETIME_S=${EW_TESTNET_RESPONDER_LIFETIME_S:-14400}
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
RESP_SRC=$HERE/icmp_delay_responder.c
RESP_BIN=$RUNDIR/icmp_delay_responder
PIDFILE=$RUNDIR/responder.pid

die() { echo "testnet.sh: $*" >&2; exit 1; }
nsx() { local ns=$1; shift; ip netns exec "$ns" "$@"; }
ns_exists() { ip netns list | awk '{print $1}' | grep -qx "$1"; }

stop_responder() {
    local pid
    if [ -f "$PIDFILE" ]; then
        pid=$(cat "$PIDFILE")
        if [ -n "$pid" ] && grep -qa icmp_delay_responder "/proc/$pid/cmdline" 2>/dev/null; then
            kill "$pid" 2>/dev/null
            for _ in $(seq 1 20); do [ -d "/proc/$pid" ] || break; sleep 0.1; done
        fi
        rm -f "$PIDFILE"
    fi
    # a responder started with another EW_TESTNET_RUNDIR: find it by namespace + name
    if ns_exists $NS_SLOW; then
        for pid in $(ip netns pids $NS_SLOW 2>/dev/null | head -n 50); do
            grep -qa icmp_delay_responder "/proc/$pid/cmdline" 2>/dev/null && kill "$pid" 2>/dev/null
        done
    fi
}

do_down() {
    stop_responder
    local ns
    for ns in $ALL_NS; do
        ns_exists "$ns" && ip netns del "$ns"
    done
    return 0
}

# link CLI-side name, server ns, 3rd IPv4 octet, IPv6 subnet id
add_link() {
    local cname=$1 srv=$2 o=$3 v6=$4
    ip link add "$cname" netns $NS_CLI type veth peer name eth0 netns "$srv" || die "veth $cname failed"
    nsx $NS_CLI ip addr add 10.200.$o.1/24 dev "$cname"
    nsx $NS_CLI ip -6 addr add fd42:200:$v6::1/64 dev "$cname" nodad
    nsx $NS_CLI ip link set "$cname" up
    nsx "$srv" ip addr add 10.200.$o.2/24 dev eth0
    nsx "$srv" ip -6 addr add fd42:200:$v6::2/64 dev eth0 nodad
    nsx "$srv" ip link set eth0 up
}

do_up() {
    [ "$(id -u)" = 0 ] || die "must run as root"
    command -v ip >/dev/null || die "iproute2 missing"
    do_down
    mkdir -p "$RUNDIR"
    local ns
    for ns in $ALL_NS; do
        ip netns add "$ns" || die "ip netns add $ns failed"
        nsx "$ns" ip link set lo up
        nsx "$ns" sysctl -qw net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.default.accept_dad=0
    done
    nsx $NS_CLI sysctl -qw net.ipv4.ping_group_range="0 2147483647"
    add_link v-up $NS_UP 0 0
    add_link v-slow $NS_SLOW 1 1
    add_link v-mute $NS_MUTE 2 2
    nsx $NS_CLI ip route add unreachable 10.200.9.0/24
    nsx $NS_CLI ip -6 route add unreachable fd42:200:9::/64
    nsx $NS_MUTE sysctl -qw net.ipv4.icmp_echo_ignore_all=1 net.ipv6.icmp.echo_ignore_all=1

    # delayed host: netem on the server's egress if available, else userspace responder
    if nsx $NS_SLOW tc qdisc add dev eth0 root netem delay "${DELAY_MS}ms" 2>/dev/null; then
        echo "slow host: tc netem delay ${DELAY_MS}ms"
    else
        [ -f "$RESP_SRC" ] || die "no sch_netem and $RESP_SRC missing"
        if [ ! -x "$RESP_BIN" ] || [ "$RESP_SRC" -nt "$RESP_BIN" ]; then
            gcc -O2 -Wall -o "$RESP_BIN" "$RESP_SRC" || die "cannot build responder"
        fi
        nsx $NS_SLOW sysctl -qw net.ipv4.icmp_echo_ignore_all=1 net.ipv6.icmp.echo_ignore_all=1
        ip netns exec $NS_SLOW "$RESP_BIN" -d "$DELAY_MS" -L "$LIFETIME_S" </dev/null >"$RUNDIR/responder.log" 2>&1 &
        echo $! >"$PIDFILE"
        sleep 0.2
        grep -qa icmp_delay_responder "/proc/$(cat "$PIDFILE")/cmdline" 2>/dev/null || die "responder did not start (see $RUNDIR/responder.log)"
        echo "slow host: no sch_netem, icmp_delay_responder pid $(cat "$PIDFILE") delay ${DELAY_MS}ms lifetime ${LIFETIME_S}s"
    fi
    echo "testnet up: run tests with: ip netns exec $NS_CLI <cmd>"
}

do_status() {
    local ns
    for ns in $ALL_NS; do
        if ns_exists "$ns"; then echo "$ns: present"; nsx "$ns" ip -br addr | sed 's/^/    /'; else echo "$ns: absent"; fi
    done
    [ -f "$PIDFILE" ] && echo "responder pidfile: $(cat "$PIDFILE")"
    return 0
}

do_check() {
    ns_exists $NS_CLI || die "not up"
    local t
    for t in 10.200.0.2 fd42:200::2 10.200.1.2 fd42:200:1::2 10.200.2.2 fd42:200:2::2; do
        printf '%-16s ' "$t"
        timeout 10 ip netns exec $NS_CLI ping -n -c 3 -i 0.2 -W 1 "$t" 2>&1 | grep -E 'packets|rtt' | tr '\n' ' '
        echo
    done
    if command -v fping >/dev/null; then
        timeout 15 ip netns exec $NS_CLI fping -q -C 3 -p 200 -t 1000 \
            10.200.0.2 fd42:200::2 10.200.1.2 fd42:200:1::2 10.200.2.2 fd42:200:2::2 2>&1
    fi
    return 0
}

case "${1:-}" in
    up) do_up ;;
    down) do_down; echo "testnet down" ;;
    status) do_status ;;
    check) do_check ;;
    exec) shift; [ $# -gt 0 ] || die "exec needs a command"; exec ip netns exec $NS_CLI "$@" ;;
    *) echo "usage: $0 up|down|status|check|exec CMD..." >&2; exit 2 ;;
esac

/* icmp_delay_responder.c - helper of testnet.sh: answers ICMP echo requests after a delay.
 *
 * Answers ICMP/ICMPv6 echo requests addressed to this network namespace after a
 * fixed delay, replacing `tc netem delay` on kernels without sch_netem.
 * Run it ONLY inside a namespace created by testnet.sh in which the kernel's own
 * echo answering is off (net.ipv4.icmp_echo_ignore_all=1,
 * net.ipv6.icmp.echo_ignore_all=1); otherwise every request is answered twice.
 *
 * Usage: icmp_delay_responder [-d delay_ms] [-L lifetime_s] [-n max_replies]
 *                             [-4 source_ipv4] [-6 source_ipv6]
 * With -4/-6 the replies leave from that address of the namespace instead of the one asked:
 * a stranger answering in another host's name, which a pinger must not take for the reply.
 * Bounded: exits after lifetime_s seconds (default 14400) or max_replies
 * replies (default 10000000); pending queue is capped (excess requests dropped).
 * Build: gcc -O2 -Wall -o icmp_delay_responder icmp_delay_responder.c
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#define QCAP 4096
#define MAXPKT 2048

struct pending {
    int64_t due_ns;
    int v6;
    struct sockaddr_storage to;
    socklen_t tolen;
    size_t len;
    unsigned char data[MAXPKT]; /* ICMP message (header + payload), reply type already set */
};

static struct pending q[QCAP];
static size_t qhead, qcount;

static int64_t now_ns(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

static uint16_t csum(const void* p, size_t n) {
    const unsigned char* b = p;
    uint32_t s = 0;
    for (size_t i = 0; i + 1 < n; i += 2)
        s += (uint32_t)(b[i] << 8 | b[i + 1]);
    if (n & 1)
        s += (uint32_t)(b[n - 1] << 8);
    while (s >> 16)
        s = (s & 0xffff) + (s >> 16);
    return htons((uint16_t)~s);
}

static void enqueue(int v6, const struct sockaddr_storage* from, socklen_t fl,
                    const unsigned char* icmp, size_t len, int64_t due) {
    if (qcount == QCAP || len > MAXPKT)
        return; /* drop: bounded queue */
    struct pending* p = &q[(qhead + qcount) % QCAP];
    p->due_ns = due;
    p->v6 = v6;
    memcpy(&p->to, from, fl);
    p->tolen = fl;
    p->len = len;
    memcpy(p->data, icmp, len);
    if (v6) {
        p->data[0] = ICMP6_ECHO_REPLY; /* kernel fills ICMPv6 checksum */
        p->data[2] = p->data[3] = 0;
    } else {
        p->data[0] = ICMP_ECHOREPLY;
        p->data[2] = p->data[3] = 0;
        uint16_t c = csum(p->data, len);
        memcpy(p->data + 2, &c, 2);
    }
    qcount++;
}

int main(int argc, char** argv) {
    long delay_ms = 50, lifetime_s = 14400, max_replies = 10000000;
    const char *source4 = NULL, *source6 = NULL;
    int opt;
    while ((opt = getopt(argc, argv, "d:L:n:4:6:")) != -1) {
        if (opt == 'd')
            delay_ms = strtol(optarg, NULL, 10);
        else if (opt == 'L')
            lifetime_s = strtol(optarg, NULL, 10);
        else if (opt == 'n')
            max_replies = strtol(optarg, NULL, 10);
        else if (opt == '4')
            source4 = optarg;
        else if (opt == '6')
            source6 = optarg;
        else {
            fprintf(stderr, "usage: %s [-d delay_ms] [-L lifetime_s] [-n max_replies]\n", argv[0]);
            return 2;
        }
    }
    int s4 = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    int s6 = socket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6);
    if (s4 < 0 || s6 < 0) {
        perror("socket");
        return 1;
    }
    /* Replies leave through sockets of their own: a bound raw socket would only see the
     * requests addressed to its address. */
    int o4 = s4, o6 = s6;
    struct sockaddr_in a4 = {.sin_family = AF_INET};
    struct sockaddr_in6 a6 = {.sin6_family = AF_INET6};
    if ((source4 && ((o4 = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP)) < 0 ||
                     inet_pton(AF_INET, source4, &a4.sin_addr) != 1 ||
                     bind(o4, (struct sockaddr*)&a4, sizeof a4) != 0)) ||
        (source6 && ((o6 = socket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6)) < 0 ||
                     inet_pton(AF_INET6, source6, &a6.sin6_addr) != 1 ||
                     bind(o6, (struct sockaddr*)&a6, sizeof a6) != 0))) {
        perror("source address");
        return 1;
    }
    struct icmp6_filter f6;
    ICMP6_FILTER_SETBLOCKALL(&f6);
    ICMP6_FILTER_SETPASS(ICMP6_ECHO_REQUEST, &f6);
    setsockopt(s6, IPPROTO_ICMPV6, ICMP6_FILTER, &f6, sizeof f6);

    const int64_t delay = (int64_t)delay_ms * 1000000LL;
    const int64_t end = now_ns() + (int64_t)lifetime_s * 1000000000LL;
    long replies = 0;
    fprintf(stderr, "icmp_delay_responder: delay=%ldms lifetime=%lds pid=%d\n", delay_ms,
            lifetime_s, (int)getpid());

    while (replies < max_replies) {
        int64_t t = now_ns();
        if (t >= end)
            break;
        /* send everything that is due (constant delay => FIFO order) */
        while (qcount && q[qhead].due_ns <= t) {
            struct pending* p = &q[qhead];
            if (sendto(p->v6 ? o6 : o4, p->data, p->len, 0, (struct sockaddr*)&p->to, p->tolen) >=
                0)
                replies++;
            qhead = (qhead + 1) % QCAP;
            qcount--;
        }
        int64_t wait_ns = end - t;
        if (qcount && q[qhead].due_ns - t < wait_ns)
            wait_ns = q[qhead].due_ns - t;
        int tmo = (int)((wait_ns + 999999) / 1000000);
        if (tmo > 1000)
            tmo = 1000;
        struct pollfd pf[2] = {{s4, POLLIN, 0}, {s6, POLLIN, 0}};
        int r = poll(pf, 2, tmo);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            perror("poll");
            return 1;
        }
        for (int i = 0; i < 2; i++) {
            if (!(pf[i].revents & POLLIN))
                continue;
            unsigned char buf[MAXPKT + 60];
            struct sockaddr_storage from;
            socklen_t fl = sizeof from;
            ssize_t n =
                recvfrom(pf[i].fd, buf, sizeof buf, MSG_DONTWAIT, (struct sockaddr*)&from, &fl);
            if (n <= 0)
                continue;
            int64_t due = now_ns() + delay;
            if (i == 0) { /* IPv4 raw socket delivers the IP header */
                struct ip* ih = (struct ip*)buf;
                size_t hl = (size_t)ih->ip_hl * 4;
                if ((size_t)n < hl + 8 || buf[hl] != ICMP_ECHO || buf[hl + 1] != 0)
                    continue;
                enqueue(0, &from, fl, buf + hl, (size_t)n - hl, due);
            } else {
                if (n < 8 || buf[0] != ICMP6_ECHO_REQUEST)
                    continue;
                enqueue(1, &from, fl, buf, (size_t)n, due);
            }
        }
    }
    fprintf(stderr, "icmp_delay_responder: exiting after %ld replies\n", replies);
    return 0;
}

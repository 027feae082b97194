/* echo.c - ICMP echo requests and their replies (see echo.h).
 *
 * Matching: the caller gives every request its own sequence number, so a reply that arrives
 * late for an earlier attempt has the wrong number and is skipped. The identifier is ours on a
 * raw socket (which sees every echo reply on the machine, so a filter keeps others' out); on a
 * ping socket the kernel puts in its own and hands the socket only the replies that carry it.
 * Either way the reply must come from the address pinged: a ping socket that is not connected
 * takes echo replies from anyone.
 */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif

#include "echo.h"

#include <ctype.h>
#include <errno.h>
#include <linux/errqueue.h>
#include <linux/filter.h>
#include <netdb.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

/* From linux/icmp.h, which cannot be included next to the libc headers. */
#ifndef ICMP_FILTER
#define ICMP_FILTER 1
#endif

#define ICMP_HEADER_SIZE 8
#define MAX_PAYLOAD 65507
#define NS_PER_S 1000000000LL
/* Room for the largest IPv4 header and the ICMP header; the payload is never looked at, so
 * longer replies are simply cut when read. */
#define RECV_BUFFER 128

static atomic_int hint_shown;
/* Counted across threads, so that echoes on threads of their own get identifiers of their own. */
static atomic_uint raw_sockets_opened;
/* The raw sockets opened at start, before the capability was dropped: [0] IPv4, [1] IPv6. */
static struct echo_socket handed[2] = {{-1, AF_INET, 1, 0, 1}, {-1, AF_INET6, 1, 0, 1}};

static uint16_t icmp_checksum(const unsigned char* p, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < n; i += 2)
        sum += (uint32_t)p[i] << 8 | p[i + 1];
    if (n & 1)
        sum += (uint32_t)p[n - 1] << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFFu) + (sum >> 16);
    return (uint16_t)~sum;
}

/* A raw socket is handed every echo reply on the machine (and, on loopback, our own requests).
 * The ICMP type filter and a BPF program on the identifier keep all of that out of our receive
 * queue, so that other programs' traffic can neither fill it nor cost us wake-ups. */
static void filter_raw_socket(int fd, int family, uint16_t ident) {
    if (family == AF_INET) {
        uint32_t blocked = ~(1u << ICMP_ECHOREPLY);
        setsockopt(fd, SOL_RAW, ICMP_FILTER, &blocked, sizeof blocked);
    } else {
        struct icmp6_filter types;
        ICMP6_FILTER_SETBLOCKALL(&types);
        ICMP6_FILTER_SETPASS(ICMP6_ECHO_REPLY, &types);
        setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &types, sizeof types);
    }
    /* X = where the ICMP header starts: after the IPv4 header, or at 0 on ICMPv6 sockets,
     * which are handed no IP header. */
    struct sock_filter code[] = {
        family == AF_INET ? (struct sock_filter)BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0)
                          : (struct sock_filter)BPF_STMT(BPF_LDX | BPF_IMM, 0),
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4), /* A = ICMP identifier */
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ident, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFFu),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    struct sock_fprog prog = {(unsigned short)(sizeof code / sizeof code[0]), code};
    setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &prog, sizeof prog);
    /* Should a filter be refused, echo_matches() still checks every reply. */
}

/* Returns 0 or the errno of socket(). */
static int open_kind(struct echo_socket* s, int family, int raw) {
    int type = (raw ? SOCK_RAW : SOCK_DGRAM) | SOCK_CLOEXEC | SOCK_NONBLOCK;
    int fd = socket(family, type, family == AF_INET ? IPPROTO_ICMP : IPPROTO_ICMPV6);
    if (fd < 0)
        return errno;
    int on = 1;
    /* Without timestamps a reply is timed when it is read, which a busy window delays. */
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    /* ICMP errors that answer a request ("host unreachable") come to the error queue, so that
     * an attempt ends when its answer comes, not at its time-out. */
    setsockopt(fd, family == AF_INET ? SOL_IP : SOL_IPV6,
               family == AF_INET ? IP_RECVERR : IPV6_RECVERR, &on, sizeof on);
    *s = (struct echo_socket){fd, family, raw, 0, 0};
    if (raw) {
        /* The first is the pid, as other ping programs do; the rest are spread out. */
        s->ident =
            (uint16_t)((unsigned)getpid() ^ (atomic_fetch_add(&raw_sockets_opened, 1u) * 0x9E37u));
        filter_raw_socket(fd, family, s->ident);
    }
    return 0;
}

static void permission_hint(void) {
    if (atomic_exchange(&hint_shown, 1))
        return;
    char* exe = realpath("/proc/self/exe", NULL);
    fprintf(stderr,
            "%s: no permission to send ICMP echo requests, so every ping will fail.\n"
            "  Allow ping sockets for all groups:  sysctl -w net.ipv4.ping_group_range=\"0 "
            "2147483647\"\n"
            "  or allow raw sockets for the program: setcap cap_net_raw+ep %s\n",
            program_invocation_short_name, exe ? exe : "<program>");
    free(exe);
}

int echo_open(struct echo_socket* s, int family, int mode) {
    s->fd = -1;
    /* Raw sockets handed over at start are only there because ping sockets were refused. */
    const struct echo_socket* h = &handed[family == AF_INET6];
    if (mode != ECHO_SOCKET_DGRAM_ONLY && h->fd >= 0) {
        *s = *h;
        return ECHO_OK;
    }
    /* Only call it a matter of permission when nothing else (no memory, no file descriptors,
     * no IPv6) got in the way. */
    int refused = 0, other = 0;
    for (int raw = mode == ECHO_SOCKET_RAW_ONLY; raw <= (mode != ECHO_SOCKET_DGRAM_ONLY); ++raw) {
        const int e = open_kind(s, family, raw);
        if (e == 0)
            return ECHO_OK;
        refused |= e == EACCES || e == EPERM;
        other |= !(e == EACCES || e == EPERM || e == EPROTONOSUPPORT || e == ESOCKTNOSUPPORT);
    }
    if (refused && !other) {
        permission_hint();
        return ECHO_NO_PERMISSION;
    }
    return ECHO_SEND_ERROR;
}

void echo_close(struct echo_socket* s) {
    if (s->fd >= 0 && !s->handed)
        close(s->fd);
    s->fd = -1;
}

int echo_send(const struct echo_socket* s, const struct sockaddr* to, socklen_t to_len,
              uint16_t sequence, int size) {
    if (size < 0 || size > MAX_PAYLOAD || to->sa_family != s->family)
        return ECHO_SEND_ERROR;
    /* Built on the caller's stack, header in front of the payload, so that the request leaves in
     * one piece and echoes on other threads have their own. */
    static const char letters[] = "abcdefghijklmnopqrstuvw";
    enum { LETTERS = sizeof letters - 1 };
    /* Whole runs of the letters, the last one cut by the length sent: room for it beyond. */
    unsigned char packet[ICMP_HEADER_SIZE + MAX_PAYLOAD + LETTERS];
    for (size_t at = 0; at < (size_t)size; at += LETTERS)
        memcpy(packet + ICMP_HEADER_SIZE + at, letters, LETTERS);
    /* An ICMPv6 echo header is laid out as the ICMPv4 one. */
    struct icmphdr header = {.type = s->family == AF_INET ? ICMP_ECHO : ICMP6_ECHO_REQUEST};
    header.un.echo.id = htons(s->ident);
    header.un.echo.sequence = htons(sequence);
    memcpy(packet, &header, sizeof header);
    /* The kernel fills in the checksum on ping sockets and for ICMPv6; raw ICMPv4 is ours. */
    if (s->family == AF_INET && s->raw) {
        uint16_t sum = icmp_checksum(packet, ICMP_HEADER_SIZE + (size_t)size);
        packet[2] = (unsigned char)(sum >> 8);
        packet[3] = (unsigned char)sum;
    }
    /* A send fails once with the error of an ICMP error that waits in the error queue, about
     * some earlier request: the second try tells whether this one can go. */
    ssize_t sent;
    int tries = 0;
    do
        sent = sendto(s->fd, packet, ICMP_HEADER_SIZE + (size_t)size, 0, to, to_len);
    while (sent < 0 && (errno == EINTR || ++tries < 2));
    return sent < 0 ? ECHO_SEND_ERROR : ECHO_OK;
}

/* One datagram without waiting, its sender into r->from unless r is NULL; msg holds the
 * control messages. */
static ssize_t read_message(const struct echo_socket* s, void* buf, size_t len,
                            struct echo_reply* r, void* control, size_t control_len, int flags,
                            struct msghdr* msg) {
    struct iovec iov = {buf, len};
    *msg = (struct msghdr){.msg_name = r ? &r->from : NULL,
                           .msg_namelen = r ? sizeof r->from : 0,
                           .msg_iov = &iov,
                           .msg_iovlen = 1,
                           .msg_control = control,
                           .msg_controllen = control_len};
    ssize_t n;
    do
        n = recvmsg(s->fd, msg, flags | MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    return n;
}

int echo_receive(const struct echo_socket* s, struct echo_reply* r) {
    unsigned char buf[RECV_BUFFER];
    union {
        char space[CMSG_SPACE(sizeof(struct timespec))];
        struct cmsghdr align;
    } control;
    struct msghdr msg;
    /* A raw IPv4 reply names its sender in its IP header: the kernel need not copy it out too. */
    const ssize_t n = read_message(s, buf, sizeof buf, s->family == AF_INET && s->raw ? NULL : r,
                                   &control, sizeof control, 0, &msg);
    if (n < 0)
        return -1;
    struct timespec t = {0, 0};
    for (struct cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS)
            memcpy(&t, CMSG_DATA(c), sizeof t);
    if (t.tv_sec == 0)
        clock_gettime(CLOCK_REALTIME, &t); /* no stamp: read now */
    r->received_ns = (int64_t)t.tv_sec * NS_PER_S + t.tv_nsec;

    return echo_parse_reply(s, buf, (size_t)n, r);
}

int echo_parse_reply(const struct echo_socket* s, const unsigned char* buf, size_t len,
                     struct echo_reply* r) {
    const unsigned char* icmp = buf;
    if (s->family == AF_INET && s->raw) {
        if (len < 20 || buf[0] >> 4 != 4)
            return 0;
        size_t header = (size_t)(buf[0] & 0x0F) * 4;
        if (header < 20 || len < header + ICMP_HEADER_SIZE)
            return 0;
        struct sockaddr_in* from = (struct sockaddr_in*)&r->from;
        from->sin_family = AF_INET;
        memcpy(&from->sin_addr, buf + 12, sizeof from->sin_addr);
        icmp += header;
        len -= header;
    }
    if (len < ICMP_HEADER_SIZE || icmp[1] != 0 ||
        icmp[0] != (s->family == AF_INET ? ICMP_ECHOREPLY : ICMP6_ECHO_REPLY))
        return 0;
    r->ident = (uint16_t)(icmp[4] << 8 | icmp[5]);
    r->sequence = (uint16_t)(icmp[6] << 8 | icmp[7]);
    r->result = ECHO_OK;
    return 1;
}

int echo_receive_error(const struct echo_socket* s, struct echo_reply* r) {
    /* What the kernel hands over is the ICMP header that the error quotes: our request's. */
    unsigned char quoted[ICMP_HEADER_SIZE];
    /* The receive timestamp comes first: room for it too, or the error would be cut off. */
    union {
        char space[CMSG_SPACE(sizeof(struct timespec)) +
                   CMSG_SPACE(sizeof(struct sock_extended_err) + sizeof(struct sockaddr_in6))];
        struct cmsghdr align;
    } control;
    struct msghdr msg;
    memset(&r->from, 0, sizeof r->from);
    const ssize_t n =
        read_message(s, quoted, sizeof quoted, r, &control, sizeof control, MSG_ERRQUEUE, &msg);
    if (n < 0)
        return -1;
    const int v4 = s->family == AF_INET;
    const struct sock_extended_err* e = NULL;
    for (struct cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
        if (v4 ? c->cmsg_level == SOL_IP && c->cmsg_type == IP_RECVERR
               : c->cmsg_level == SOL_IPV6 && c->cmsg_type == IPV6_RECVERR)
            e = (const struct sock_extended_err*)CMSG_DATA(c);
    /* Errors of the sending host itself (a request too big) were told by the send. */
    if (!e || e->ee_origin != (v4 ? SO_EE_ORIGIN_ICMP : SO_EE_ORIGIN_ICMP6) ||
        (size_t)n < ICMP_HEADER_SIZE || r->from.ss_family != s->family ||
        quoted[0] != (v4 ? ICMP_ECHO : ICMP6_ECHO_REQUEST))
        return 0;
    r->ident = (uint16_t)(quoted[4] << 8 | quoted[5]);
    r->sequence = (uint16_t)(quoted[6] << 8 | quoted[7]);
    r->received_ns = 0;
    r->result = e->ee_type == (v4 ? ICMP_DEST_UNREACH : ICMP6_DST_UNREACH) ? ECHO_UNREACHABLE
                                                                           : ECHO_ICMP_ERROR;
    return 1;
}

int echo_matches(const struct echo_socket* s, const struct echo_reply* r,
                 const struct sockaddr* to) {
    if ((s->raw && r->ident != s->ident) || r->from.ss_family != to->sa_family)
        return 0;
    if (to->sa_family == AF_INET)
        return ((const struct sockaddr_in*)&r->from)->sin_addr.s_addr ==
               ((const struct sockaddr_in*)to)->sin_addr.s_addr;
    return memcmp(&((const struct sockaddr_in6*)&r->from)->sin6_addr,
                  &((const struct sockaddr_in6*)to)->sin6_addr, sizeof(struct in6_addr)) == 0;
}

/* An IPv4 address written the IPv6 way (::ffff:10.0.0.1) goes out as IPv4. */
static void unmap_ipv4(struct sockaddr_storage* ss, socklen_t* len) {
    const struct sockaddr_in6* v6 = (const struct sockaddr_in6*)ss;
    if (ss->ss_family != AF_INET6 || !IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr))
        return;
    struct sockaddr_in v4 = {.sin_family = AF_INET};
    memcpy(&v4.sin_addr, &v6->sin6_addr.s6_addr[12], sizeof v4.sin_addr);
    memset(ss, 0, sizeof *ss);
    memcpy(ss, &v4, sizeof v4);
    *len = sizeof v4;
}

/* Numeric addresses never go near the resolver: it would be slow, and an all-digit text that is
 * no valid address (999.1.1.1) would end up as a DNS query. */
int echo_parse_address(const char* text, char* host, size_t host_size,
                       struct sockaddr_storage* addr, socklen_t* len) {
    /* Every kind of white space, so that a text pasted with its line break still names its host. */
    while (isspace((unsigned char)*text))
        ++text;
    /* The whole text, not a capped prefix: a cap could cut a long text down to an address. */
    size_t n = strlen(text);
    while (n > 0 && isspace((unsigned char)text[n - 1]))
        --n;
    if (n == 0 || n >= host_size)
        return -1;
    memcpy(host, text, n);
    host[n] = '\0';

    /* Through the resolver's numeric path, which never asks a name server: dotted quads and
     * their short forms (127.1), and IPv6 with its scoped addresses (fe80::1%eth0). */
    /* SOCK_DGRAM: one answer, not one per kind of socket. */
    const struct addrinfo hints = {.ai_flags = AI_NUMERICHOST, .ai_socktype = SOCK_DGRAM};
    struct addrinfo* found = NULL;
    if (getaddrinfo(host, NULL, &hints, &found) == 0 && found) {
        memset(addr, 0, sizeof *addr);
        memcpy(addr, found->ai_addr, found->ai_addrlen);
        *len = found->ai_addrlen;
        freeaddrinfo(found);
        unmap_ipv4(addr, len);
        return 1;
    }
    /* A text that only looks like an address is none, nor a name to look up. */
    return strchr(host, ':') || host[strspn(host, "0123456789.")] == '\0' ? -1 : 0;
}

int echo_open_raw_sockets(void) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0) {
        close(fd);
        return 0; /* ping sockets will do, with no privilege at all */
    }
    int opened = 0;
    for (int i = 0; i < 2; ++i) {
        struct echo_socket s;
        if (handed[i].fd < 0 && open_kind(&s, i ? AF_INET6 : AF_INET, 1) == 0) {
            s.handed = 1;
            handed[i] = s;
            ++opened;
        }
    }
    return opened;
}

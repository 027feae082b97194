/* echoping.c - one ICMP echo request and its reply (see echoping.h).
 *
 * Sockets: each thread keeps one socket per address family open between calls, because opening
 * and filtering a socket costs about as much as a whole echo over loopback. Keeping them per
 * thread means a reply can only ever be read by the thread waiting for it; a key destructor
 * closes them when the thread ends and a fork handler drops the child's copies.
 *
 * Matching: a request carries a process-wide sequence number, so a reply that arrives late for
 * an earlier, timed-out attempt has the wrong number and is skipped. The identifier is ours on
 * a raw socket; on a ping socket the kernel puts in its own and already sorts the replies out.
 */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif

#include "echoping.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/filter.h>
#include <netdb.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

/* From linux/icmp.h, which cannot be included next to the libc headers. */
#ifndef ICMP_FILTER
#define ICMP_FILTER 1
#endif

#define ICMP4_ECHO_REPLY 0
#define ICMP4_ECHO_REQUEST 8
#define ICMP_HEADER_SIZE 8
#define MAX_PAYLOAD 32767 /* the largest int16_t packetSize; fits ICMP over IPv4 and IPv6 */
#define MAX_HOST_TEXT 1024
/* Room for the largest IPv4 header and the ICMP header; the payload is never looked at, so
 * longer replies are simply cut when read. */
#define RECV_BUFFER 128
#define NS_PER_MS 1000000LL
#define NS_PER_S 1000000000LL

enum socket_kind { KIND_NONE = 0, KIND_DGRAM = 1, KIND_RAW = 2 };

struct echo_socket {
    int fd;
    int kind;
    uint16_t ident; /* ours on a raw socket; unused on a ping socket */
};

struct echo_thread {
    int registered;
    struct echo_socket sock[2]; /* [0] IPv4, [1] IPv6 */
};

static _Thread_local struct echo_thread tls = {0, {{-1, KIND_NONE, 0}, {-1, KIND_NONE, 0}}};

static pthread_once_t init_once = PTHREAD_ONCE_INIT;
static pthread_key_t thread_key;
static int have_thread_key;
static unsigned char payload[MAX_PAYLOAD];
static unsigned process_id;
static atomic_int socket_mode = ECHO_SOCKET_AUTO;
static atomic_uint next_sequence;
static atomic_uint next_ident;
static atomic_int hint_shown;

static void close_socket(struct echo_socket* s) {
    if (s->fd >= 0)
        close(s->fd);
    s->fd = -1;
    s->kind = KIND_NONE;
}

static void close_thread_sockets(struct echo_thread* t) {
    close_socket(&t->sock[0]);
    close_socket(&t->sock[1]);
}

static void on_thread_exit(void* state) {
    struct echo_thread* t = state;
    close_thread_sockets(t);
    t->registered = 0;
}

/* The child of a fork shares our sockets; were it to ping, it could read our replies. */
static void on_fork_child(void) {
    close_thread_sockets(&tls);
}

static void initialise(void) {
    have_thread_key = pthread_key_create(&thread_key, on_thread_exit) == 0;
    pthread_atfork(NULL, NULL, on_fork_child);
    static const char letters[] = "abcdefghijklmnopqrstuvw";
    for (size_t i = 0; i < MAX_PAYLOAD; ++i)
        payload[i] = (unsigned char)letters[i % (sizeof letters - 1)];
    process_id = (unsigned)getpid();
    atomic_store(&next_sequence, process_id * 40503u);
}

static struct echo_thread* thread_state(void) {
    if (!tls.registered) {
        if (have_thread_key)
            pthread_setspecific(thread_key, &tls);
        tls.registered = 1;
    }
    return &tls;
}

static int64_t now_ns(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * NS_PER_S + ts.tv_nsec;
}

/* Identifiers of this process's raw sockets: the first is the pid (as other ping programs do),
 * the rest are spread out so that two threads never share one. */
static uint16_t new_ident(void) {
    unsigned n = atomic_fetch_add(&next_ident, 1u);
    return (uint16_t)(process_id ^ (n * 0x9E37u));
}

/* A raw socket is handed every echo reply on the machine (and, on loopback, our own requests).
 * The ICMP type filter and a BPF program on the identifier keep all of that out of our receive
 * queue, so that other programs' traffic can neither fill it nor cost us wake-ups. */
static void filter_raw_socket(int fd, int family, uint16_t ident) {
    if (family == AF_INET) {
        uint32_t blocked = ~(1u << ICMP4_ECHO_REPLY);
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
    /* Should a filter be refused, the checks on every reply below still hold. */
}

/* Returns 0 or the errno of socket(). */
static int open_socket(int family, int kind, struct echo_socket* s) {
    int type = (kind == KIND_DGRAM ? SOCK_DGRAM : SOCK_RAW) | SOCK_CLOEXEC;
    int fd = socket(family, type, family == AF_INET ? IPPROTO_ICMP : IPPROTO_ICMPV6);
    if (fd < 0)
        return errno;
    s->fd = fd;
    s->kind = kind;
    s->ident = 0;
    if (kind == KIND_RAW) {
        s->ident = new_ident();
        filter_raw_socket(fd, family, s->ident);
    }
    return 0;
}

static void permission_hint(void) {
    if (atomic_exchange(&hint_shown, 1))
        return;
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        snprintf(exe, sizeof exe, "%s", "<program>");
    else
        exe[n] = '\0';
    fprintf(stderr,
            "%s: no permission to send ICMP echo requests, so every ping will fail.\n"
            "  Allow ping sockets for all groups:  sysctl -w net.ipv4.ping_group_range=\"0 "
            "2147483647\"\n"
            "  or allow raw sockets for the program: setcap cap_net_raw+ep %s\n",
            program_invocation_short_name, exe);
}

static int mode_allows(int mode, int kind) {
    return mode == ECHO_SOCKET_AUTO || (mode == ECHO_SOCKET_DGRAM_ONLY && kind == KIND_DGRAM) ||
           (mode == ECHO_SOCKET_RAW_ONLY && kind == KIND_RAW);
}

static int get_socket(int family, struct echo_socket** out) {
    struct echo_socket* s = &thread_state()->sock[family == AF_INET6];
    int mode = atomic_load_explicit(&socket_mode, memory_order_relaxed);
    *out = s;
    if (s->fd >= 0) {
        if (mode_allows(mode, s->kind))
            return ECHO_OK;
        close_socket(s);
    }
    int errors[2];
    int tried = 0;
    if (mode != ECHO_SOCKET_RAW_ONLY) {
        errors[tried] = open_socket(family, KIND_DGRAM, s);
        if (errors[tried++] == 0)
            return ECHO_OK;
    }
    if (mode != ECHO_SOCKET_DGRAM_ONLY) {
        errors[tried] = open_socket(family, KIND_RAW, s);
        if (errors[tried++] == 0)
            return ECHO_OK;
    }
    /* Only call it a matter of permission when nothing else (no memory, no file descriptors,
     * no IPv6) got in the way. */
    int refused = 0, other = 0;
    for (int i = 0; i < tried; ++i) {
        if (errors[i] == EACCES || errors[i] == EPERM)
            refused = 1;
        else if (errors[i] != EPROTONOSUPPORT && errors[i] != ESOCKTNOSUPPORT)
            other = 1;
    }
    if (refused && !other) {
        permission_hint();
        return ECHO_NO_PERMISSION;
    }
    return ECHO_SEND_ERROR;
}

static uint32_t add_words(const unsigned char* p, size_t n, uint32_t sum) {
    size_t i = 0;
    for (; i + 1 < n; i += 2)
        sum += (uint32_t)p[i] << 8 | p[i + 1];
    if (i < n)
        sum += (uint32_t)p[i] << 8;
    return sum;
}

static uint16_t icmp_checksum(const unsigned char* header, size_t size) {
    uint32_t sum = add_words(payload, size, add_words(header, ICMP_HEADER_SIZE, 0));
    while (sum >> 16)
        sum = (sum & 0xFFFFu) + (sum >> 16);
    return (uint16_t)~sum;
}

static int same_peer(const struct sockaddr_storage* from, const struct sockaddr* to) {
    if (from->ss_family != to->sa_family)
        return 0;
    if (to->sa_family == AF_INET)
        return ((const struct sockaddr_in*)from)->sin_addr.s_addr ==
               ((const struct sockaddr_in*)to)->sin_addr.s_addr;
    return memcmp(&((const struct sockaddr_in6*)from)->sin6_addr,
                  &((const struct sockaddr_in6*)to)->sin6_addr, sizeof(struct in6_addr)) == 0;
}

static int is_our_reply(const struct echo_socket* s, int family, const unsigned char* buf,
                        size_t len, const struct sockaddr_storage* from, const struct sockaddr* to,
                        uint16_t sequence) {
    const unsigned char* icmp = buf;
    if (family == AF_INET && s->kind == KIND_RAW) {
        /* Only a raw IPv4 socket hands over the IP header. */
        if (len < 20 || buf[0] >> 4 != 4)
            return 0;
        size_t header = (size_t)(buf[0] & 0x0F) * 4;
        if (header < 20 || len < header + ICMP_HEADER_SIZE)
            return 0;
        icmp += header;
        len -= header;
    }
    if (len < ICMP_HEADER_SIZE)
        return 0;
    if (icmp[0] != (family == AF_INET ? ICMP4_ECHO_REPLY : ICMP6_ECHO_REPLY) || icmp[1] != 0)
        return 0;
    if (s->kind == KIND_RAW && (uint16_t)(icmp[4] << 8 | icmp[5]) != s->ident)
        return 0;
    if ((uint16_t)(icmp[6] << 8 | icmp[7]) != sequence)
        return 0;
    return same_peer(from, to);
}

static void write_reply_text(char* reply, const struct sockaddr_storage* from) {
    char text[INET6_ADDRSTRLEN] = "";
    const void* addr = from->ss_family == AF_INET
                           ? (const void*)&((const struct sockaddr_in*)from)->sin_addr
                           : (const void*)&((const struct sockaddr_in6*)from)->sin6_addr;
    if (!inet_ntop(from->ss_family, addr, text, sizeof text))
        text[0] = '\0';
    size_t n = strnlen(text, ECHO_REPLY_TEXT_MAX);
    memcpy(reply, text, n);
    reply[n] = '\0';
}

static int is_fatal_recv_error(int err) {
    return err == EBADF || err == ENOTSOCK || err == EFAULT || err == EINVAL || err == ENOMEM ||
           err == ENOBUFS;
}

static int await_reply(struct echo_socket* s, int family, const struct sockaddr* to,
                       uint16_t sequence, int64_t sent_at, int64_t deadline, char* reply,
                       int32_t* roundTripMs) {
    unsigned char buf[RECV_BUFFER];
    for (;;) {
        /* Read before waiting: over loopback the reply is usually queued by the time the send
         * returns, and this saves the poll. */
        struct sockaddr_storage from;
        socklen_t from_len = sizeof from;
        ssize_t n =
            recvfrom(s->fd, buf, sizeof buf, MSG_DONTWAIT, (struct sockaddr*)&from, &from_len);
        if (n >= 0) {
            if (is_our_reply(s, family, buf, (size_t)n, &from, to, sequence)) {
                *roundTripMs = (int32_t)((now_ns() - sent_at) / NS_PER_MS);
                if (reply)
                    write_reply_text(reply, &from);
                return ECHO_OK;
            }
            if (now_ns() >= deadline)
                return ECHO_TIMEOUT;
            continue;
        }
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            if (is_fatal_recv_error(errno))
                return ECHO_RECV_ERROR;
            /* A network error reported for some earlier datagram; it says nothing about ours. */
        }
        int64_t left = deadline - now_ns();
        if (left <= 0)
            return ECHO_TIMEOUT;
        /* ppoll rather than poll, whose millisecond time-out would round every wait up. And
         * the kernel lets a poll sleep up to 0.1 % past its time-out (a whole millisecond on a
         * 1 s wait), so ask for that much less and wait out the rest in a short second round,
         * whose slack is tiny. */
        int64_t ask = left - left / 1000;
        struct timespec wait = {(time_t)(ask / NS_PER_S), (long)(ask % NS_PER_S)};
        struct pollfd p = {s->fd, POLLIN, 0};
        int ready = ppoll(&p, 1, &wait, NULL);
        if (ready < 0 && errno != EINTR)
            return ECHO_RECV_ERROR;
    }
}

static int attempt(const struct sockaddr* to, socklen_t to_len, char* reply, int size,
                   int32_t* roundTripMs, int timeoutMs) {
    int family = to->sa_family;
    struct echo_socket* s;
    int result = get_socket(family, &s);
    if (result != ECHO_OK)
        return result;

    uint16_t sequence =
        (uint16_t)atomic_fetch_add_explicit(&next_sequence, 1u, memory_order_relaxed);
    unsigned char header[ICMP_HEADER_SIZE] = {
        family == AF_INET ? ICMP4_ECHO_REQUEST : ICMP6_ECHO_REQUEST,
        0,
        0,
        0,
        (unsigned char)(s->ident >> 8),
        (unsigned char)s->ident,
        (unsigned char)(sequence >> 8),
        (unsigned char)sequence,
    };
    /* The kernel fills in the checksum on ping sockets and for ICMPv6; raw ICMPv4 is ours. */
    if (family == AF_INET && s->kind == KIND_RAW) {
        uint16_t sum = icmp_checksum(header, (size_t)size);
        header[2] = (unsigned char)(sum >> 8);
        header[3] = (unsigned char)sum;
    }
    struct iovec iov[2] = {{header, sizeof header}, {payload, (size_t)size}};
    struct msghdr msg;
    memset(&msg, 0, sizeof msg);
    msg.msg_name = (void*)to;
    msg.msg_namelen = to_len;
    msg.msg_iov = iov;
    msg.msg_iovlen = size > 0 ? 2 : 1;

    int64_t sent_at = now_ns();
    ssize_t sent;
    do
        sent = sendmsg(s->fd, &msg, 0);
    while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        if (errno == EBADF || errno == ENOTSOCK)
            s->fd = -1; /* someone else closed it; it is no longer ours to close */
        return ECHO_SEND_ERROR;
    }
    return await_reply(s, family, to, sequence, sent_at, sent_at + timeoutMs * NS_PER_MS, reply,
                       roundTripMs);
}

/* Ping sockets refuse IPv4-mapped IPv6 addresses; they are plain IPv4 addresses anyway. */
static void unmap_ipv4(struct sockaddr_storage* ss, socklen_t* len) {
    const struct sockaddr_in6* v6 = (const struct sockaddr_in6*)ss;
    if (ss->ss_family != AF_INET6 || !IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr))
        return;
    struct sockaddr_in v4;
    memset(&v4, 0, sizeof v4);
    v4.sin_family = AF_INET;
    memcpy(&v4.sin_addr, &v6->sin6_addr.s6_addr[12], sizeof v4.sin_addr);
    memset(ss, 0, sizeof *ss);
    memcpy(ss, &v4, sizeof v4);
    *len = sizeof v4;
}

enum literal { NOT_LITERAL, LITERAL, BAD_LITERAL };

/* Numeric addresses never go near the resolver: it would be slow, and an all-digit text that is
 * no valid address (999.1.1.1) would end up as a DNS query. */
static enum literal parse_literal(const char* host, struct sockaddr_storage* ss, socklen_t* len) {
    memset(ss, 0, sizeof *ss);
    struct sockaddr_in* v4 = (struct sockaddr_in*)ss;
    if (inet_pton(AF_INET, host, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        *len = sizeof *v4;
        return LITERAL;
    }
    if (strchr(host, ':')) {
        struct sockaddr_in6* v6 = (struct sockaddr_in6*)ss;
        if (inet_pton(AF_INET6, host, &v6->sin6_addr) == 1) {
            v6->sin6_family = AF_INET6;
            *len = sizeof *v6;
        } else {
            /* Scoped addresses (fe80::1%eth0) need the resolver's numeric path. */
            struct addrinfo hints, *found = NULL;
            memset(&hints, 0, sizeof hints);
            hints.ai_family = AF_INET6;
            hints.ai_flags = AI_NUMERICHOST;
            if (getaddrinfo(host, NULL, &hints, &found) != 0 || !found)
                return BAD_LITERAL;
            memcpy(ss, found->ai_addr, found->ai_addrlen);
            *len = found->ai_addrlen;
            freeaddrinfo(found);
        }
        unmap_ipv4(ss, len);
        return LITERAL;
    }
    if (host[strspn(host, "0123456789.")] == '\0') {
        /* Short forms such as 127.1 are still addresses. */
        if (inet_aton(host, &v4->sin_addr) == 0)
            return BAD_LITERAL;
        v4->sin_family = AF_INET;
        *len = sizeof *v4;
        return LITERAL;
    }
    return NOT_LITERAL;
}

static int is_blank(char c) {
    return c == ' ' || c == '\t';
}

/* Copies the address without the blanks around it; 0 when nothing usable is left. */
static int trimmed_host(const char* address, char host[MAX_HOST_TEXT + 1]) {
    while (is_blank(*address))
        ++address;
    /* The whole text, not a capped prefix: a cap could cut a long text down to an address. */
    size_t n = strlen(address);
    while (n > 0 && is_blank(address[n - 1]))
        --n;
    if (n == 0 || n > MAX_HOST_TEXT)
        return 0;
    memcpy(host, address, n);
    host[n] = '\0';
    return 1;
}

static int resolve_and_ping(const char* host, char* reply, int size, int32_t* roundTripMs,
                            int timeoutMs) {
    struct addrinfo hints, *found = NULL;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    if (getaddrinfo(host, NULL, &hints, &found) != 0 || !found)
        return ECHO_UNRESOLVED;
    int result = ECHO_UNRESOLVED;
    /* Move on to the next address only when this one could not even be sent to (an IPv6
     * address on a machine without IPv6, say); once a request is out, its outcome counts. */
    for (const struct addrinfo* ai = found; ai; ai = ai->ai_next) {
        if ((ai->ai_family != AF_INET && ai->ai_family != AF_INET6) ||
            ai->ai_addrlen > sizeof(struct sockaddr_storage))
            continue;
        struct sockaddr_storage ss;
        socklen_t len = ai->ai_addrlen;
        memset(&ss, 0, sizeof ss);
        memcpy(&ss, ai->ai_addr, len);
        unmap_ipv4(&ss, &len);
        result = attempt((const struct sockaddr*)&ss, len, reply, size, roundTripMs, timeoutMs);
        if (result != ECHO_SEND_ERROR)
            break;
    }
    freeaddrinfo(found);
    return result;
}

int16_t ping(const char* address, char* reply, int16_t packetSize, int32_t* roundTripMs,
             int16_t timeoutMs, uint32_t reserved) {
    (void)reserved;
    if (!address || !roundTripMs || packetSize < 0 || timeoutMs <= 0)
        return ECHO_INVALID_ARGUMENT;
    pthread_once(&init_once, initialise);

    char host[MAX_HOST_TEXT + 1];
    if (!trimmed_host(address, host))
        return ECHO_UNRESOLVED;

    int result;
    struct sockaddr_storage ss;
    socklen_t len = 0;
    switch (parse_literal(host, &ss, &len)) {
    case LITERAL:
        result =
            attempt((const struct sockaddr*)&ss, len, reply, packetSize, roundTripMs, timeoutMs);
        break;
    case BAD_LITERAL:
        result = ECHO_UNRESOLVED;
        break;
    default:
        result = resolve_and_ping(host, reply, packetSize, roundTripMs, timeoutMs);
        break;
    }
    if (!have_thread_key)
        close_thread_sockets(thread_state()); /* nobody would close them at thread exit */
    return (int16_t)result;
}

int echo_set_socket_mode(int mode) {
    if (mode != ECHO_SOCKET_AUTO && mode != ECHO_SOCKET_DGRAM_ONLY && mode != ECHO_SOCKET_RAW_ONLY)
        return -1;
    return atomic_exchange(&socket_mode, mode);
}

void echo_close_thread_sockets(void) {
    close_thread_sockets(&tls);
}

void echo_reset_permission_hint(void) {
    atomic_store(&hint_shown, 0);
}

void echo_interrupt(void) {
    /* not yet: calls run to their reply or time-out */
}

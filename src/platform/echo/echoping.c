/* echoping.c - one ICMP echo request and its reply (see echoping.h).
 *
 * Sockets: each thread keeps one socket per address family open between calls, because opening
 * and filtering a socket costs about as much as a whole echo over loopback. Keeping them per
 * thread means a reply can only ever be read by the thread waiting for it; a key destructor
 * closes them when the thread ends and a fork handler drops the child's copies.
 *
 * A program that drops its capabilities at start hands over raw sockets opened beforehand
 * (echo_open_raw_sockets); those are shared by every thread, one attempt at a time.
 *
 * Matching: a request carries a process-wide sequence number, so a reply that arrives late for
 * an earlier, timed-out attempt has the wrong number and is skipped. The identifier is ours on
 * a raw socket; on a ping socket the kernel puts in its own. Either way the reply must come
 * from the address pinged: a ping socket that is not connected takes echo replies from anyone.
 *
 * Waiting: every wait (for a reply, a name lookup or the shared raw socket) also watches the
 * process-wide interruption generation, so echo_interrupt() ends them all at once. A thread
 * waiting for a reply is woken through its own eventfd; the other waits through one condition
 * variable.
 *
 * Names: a lookup runs on a detached thread of its own and its outcome is kept for a few
 * seconds, so that a resolver that never answers costs each attempt no more than its time-out
 * and a pass looks each name up once. There is at most one lookup per name at any time.
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
#include <sys/eventfd.h>
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
    int wake_fd;                /* eventfd that echo_interrupt() writes to; -1 until needed */
    struct echo_thread* next_waiting;
};

static _Thread_local struct echo_thread tls = {
    0, {{-1, KIND_NONE, 0}, {-1, KIND_NONE, 0}}, -1, NULL};

/* The pre-opened raw sockets: [0] IPv4, [1] IPv6; busy while an attempt uses one. */
struct shared_socket {
    struct echo_socket s;
    int busy;
};

#define LOOKUP_SLOTS 16
#define LOOKUP_ADDRESSES 8
#define LOOKUP_KEEP_NS (5 * NS_PER_S)

enum lookup_state { LOOKUP_FREE = 0, LOOKUP_PENDING = 1, LOOKUP_DONE = 2 };

/* One name's lookup. While PENDING, the slot belongs to its lookup thread and is never given
 * to another name, so the thread can read the name and write the outcome without a pointer
 * that could go stale. count 0 records a name that does not resolve. */
struct lookup {
    int state;
    int count;
    int64_t done_at;
    struct sockaddr_storage addr[LOOKUP_ADDRESSES];
    socklen_t len[LOOKUP_ADDRESSES];
    char name[MAX_HOST_TEXT + 1];
};

static pthread_once_t init_once = PTHREAD_ONCE_INIT;
static pthread_key_t thread_key;
static int have_thread_key;
static unsigned char payload[MAX_PAYLOAD];
static unsigned process_id;
static atomic_int socket_mode = ECHO_SOCKET_AUTO;
static atomic_uint next_sequence;
static atomic_uint next_ident;
static atomic_int hint_shown;

/* lock guards the waiting list, the shared sockets and the lookups; changed is broadcast when
 * a lookup ends, a shared socket is released or an interruption comes. */
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t changed;
static atomic_uint generation;
static struct echo_thread* waiting;
static struct shared_socket shared[2] = {{{-1, KIND_NONE, 0}, 0}, {{-1, KIND_NONE, 0}, 0}};
static struct lookup lookups[LOOKUP_SLOTS];

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
    if (t->wake_fd >= 0)
        close(t->wake_fd);
    t->wake_fd = -1;
    t->registered = 0;
}

static void before_fork(void) {
    pthread_mutex_lock(&lock);
}

static void after_fork_parent(void) {
    pthread_mutex_unlock(&lock);
}

/* The child of a fork shares our sockets; were it to ping, it could read our replies. Of the
 * other threads only their entries are left: no waiter, no attempt on a shared socket, and no
 * lookup that would ever end. */
static void after_fork_child(void) {
    close_thread_sockets(&tls);
    if (tls.wake_fd >= 0)
        close(tls.wake_fd);
    tls.wake_fd = -1;
    waiting = NULL;
    shared[0].busy = shared[1].busy = 0;
    for (int i = 0; i < LOOKUP_SLOTS; ++i)
        if (lookups[i].state == LOOKUP_PENDING)
            lookups[i].state = LOOKUP_FREE;
    pthread_mutex_unlock(&lock);
}

static void initialise(void) {
    have_thread_key = pthread_key_create(&thread_key, on_thread_exit) == 0;
    pthread_atfork(before_fork, after_fork_parent, after_fork_child);
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&changed, &attr);
    pthread_condattr_destroy(&attr);
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

static int interrupted(unsigned since) {
    return atomic_load(&generation) != since;
}

/* Joins the waiting list, so that echo_interrupt() can wake this thread; returns the
 * generation that this call belongs to. */
static unsigned enter_call(struct echo_thread* t) {
    pthread_mutex_lock(&lock);
    if (t->wake_fd < 0)
        t->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); /* without one, waits see it late */
    t->next_waiting = waiting;
    waiting = t;
    unsigned since = atomic_load(&generation);
    pthread_mutex_unlock(&lock);
    return since;
}

static void leave_call(struct echo_thread* t) {
    pthread_mutex_lock(&lock);
    for (struct echo_thread** p = &waiting; *p; p = &(*p)->next_waiting)
        if (*p == t) {
            *p = t->next_waiting;
            break;
        }
    pthread_mutex_unlock(&lock);
}

/* Waits on changed until deadline; 0 when the deadline has passed. Called with lock held. */
static int wait_changed(int64_t deadline) {
    if (now_ns() >= deadline)
        return 0;
    struct timespec until = {(time_t)(deadline / NS_PER_S), (long)(deadline % NS_PER_S)};
    pthread_cond_timedwait(&changed, &lock, &until);
    return 1;
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

/* Takes the family's shared raw socket for one attempt, waiting while another thread has it;
 * -1 when there is none. */
static int take_shared(int family, int64_t deadline, unsigned since, struct echo_socket** out) {
    struct shared_socket* sh = &shared[family == AF_INET6];
    int result = ECHO_TIMEOUT;
    pthread_mutex_lock(&lock);
    for (;;) {
        if (sh->s.fd < 0) {
            result = -1;
            break;
        }
        if (interrupted(since)) {
            result = ECHO_INTERRUPTED;
            break;
        }
        if (!sh->busy) {
            sh->busy = 1;
            *out = &sh->s;
            result = ECHO_OK;
            break;
        }
        if (!wait_changed(deadline))
            break;
    }
    pthread_mutex_unlock(&lock);
    return result;
}

static int is_shared(const struct echo_socket* s) {
    return s == &shared[0].s || s == &shared[1].s;
}

static void release_shared(struct echo_socket* s) {
    pthread_mutex_lock(&lock);
    ((struct shared_socket*)s)->busy = 0;
    pthread_cond_broadcast(&changed);
    pthread_mutex_unlock(&lock);
}

static int get_socket(int family, int64_t deadline, unsigned since, struct echo_socket** out) {
    int mode = atomic_load_explicit(&socket_mode, memory_order_relaxed);
    /* Shared raw sockets are only there because ping sockets were refused at start. */
    if (mode != ECHO_SOCKET_DGRAM_ONLY) {
        int result = take_shared(family, deadline, since, out);
        if (result != -1)
            return result;
    }
    struct echo_socket* s = &thread_state()->sock[family == AF_INET6];
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
                       uint16_t sequence, int64_t sent_at, int64_t deadline, unsigned since,
                       char* reply, int32_t* roundTripMs) {
    int wake_fd = tls.wake_fd;
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
        /* Checked after the read and before the wait: echo_interrupt() bumps the generation
         * before it writes the eventfd, so an interruption after this check ends the poll. */
        if (interrupted(since))
            return ECHO_INTERRUPTED;
        int64_t left = deadline - now_ns();
        if (left <= 0)
            return ECHO_TIMEOUT;
        /* ppoll rather than poll, whose millisecond time-out would round every wait up. And
         * the kernel lets a poll sleep up to 0.1 % past its time-out (a whole millisecond on a
         * 1 s wait), so ask for that much less and wait out the rest in a short second round,
         * whose slack is tiny. */
        int64_t ask = left - left / 1000;
        struct timespec wait = {(time_t)(ask / NS_PER_S), (long)(ask % NS_PER_S)};
        struct pollfd p[2] = {{s->fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
        int ready = ppoll(p, wake_fd >= 0 ? 2 : 1, &wait, NULL);
        if (ready < 0 && errno != EINTR)
            return ECHO_RECV_ERROR;
        if (ready > 0 && wake_fd >= 0 && (p[1].revents & POLLIN)) {
            uint64_t count;
            /* Also empties a wake-up meant for an earlier call; the generation decides. */
            if (read(wake_fd, &count, sizeof count) < 0) {
            }
        }
    }
}

static int send_and_await(struct echo_socket* s, const struct sockaddr* to, socklen_t to_len,
                          char* reply, int size, int32_t* roundTripMs, int64_t deadline,
                          unsigned since) {
    int family = to->sa_family;
    if (interrupted(since))
        return ECHO_INTERRUPTED;

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
        if ((errno == EBADF || errno == ENOTSOCK) && !is_shared(s))
            s->fd = -1; /* someone else closed it; it is no longer ours to close */
        return ECHO_SEND_ERROR;
    }
    return await_reply(s, family, to, sequence, sent_at, deadline, since, reply, roundTripMs);
}

static int attempt(const struct sockaddr* to, socklen_t to_len, char* reply, int size,
                   int32_t* roundTripMs, int64_t deadline, unsigned since) {
    struct echo_socket* s;
    int result = get_socket(to->sa_family, deadline, since, &s);
    if (result != ECHO_OK)
        return result;
    result = send_and_await(s, to, to_len, reply, size, roundTripMs, deadline, since);
    if (is_shared(s))
        release_shared(s);
    return result;
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

/* Every kind of white space, so that a text pasted with its line break still names its host. */
static int is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
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

static void* run_lookup(void* arg) {
    struct lookup* l = &lookups[(intptr_t)arg];
    struct addrinfo hints, *found = NULL;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    /* The name is not written while the slot is pending, so it is read without the lock. */
    int failed = getaddrinfo(l->name, NULL, &hints, &found) != 0;

    pthread_mutex_lock(&lock);
    l->count = 0;
    for (const struct addrinfo* ai = failed ? NULL : found; ai && l->count < LOOKUP_ADDRESSES;
         ai = ai->ai_next) {
        if ((ai->ai_family != AF_INET && ai->ai_family != AF_INET6) ||
            ai->ai_addrlen > sizeof(struct sockaddr_storage))
            continue;
        struct sockaddr_storage* ss = &l->addr[l->count];
        socklen_t len = ai->ai_addrlen;
        memset(ss, 0, sizeof *ss);
        memcpy(ss, ai->ai_addr, len);
        unmap_ipv4(ss, &len);
        l->len[l->count++] = len;
    }
    l->state = LOOKUP_DONE;
    l->done_at = now_ns();
    pthread_cond_broadcast(&changed);
    pthread_mutex_unlock(&lock);
    if (found)
        freeaddrinfo(found);
    return NULL;
}

/* The slot for host: its own, or a free one, or the one whose outcome is oldest; NULL while
 * every slot waits for a lookup. Called with lock held. */
static struct lookup* lookup_slot(const char* host) {
    struct lookup* best = NULL;
    for (int i = 0; i < LOOKUP_SLOTS; ++i) {
        struct lookup* l = &lookups[i];
        if (l->state != LOOKUP_FREE && strcmp(l->name, host) == 0)
            return l;
        if (l->state == LOOKUP_FREE)
            best = best && best->state == LOOKUP_FREE ? best : l;
        else if (l->state == LOOKUP_DONE &&
                 (!best || (best->state == LOOKUP_DONE && l->done_at < best->done_at)))
            best = l;
    }
    if (best)
        best->state = LOOKUP_FREE;
    return best;
}

static int start_lookup(struct lookup* l, const char* host) {
    snprintf(l->name, sizeof l->name, "%s", host);
    l->state = LOOKUP_PENDING;
    pthread_attr_t attr;
    pthread_t thread;
    int started = pthread_attr_init(&attr) == 0;
    if (started) {
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
        started = pthread_create(&thread, &attr, run_lookup, (void*)(intptr_t)(l - lookups)) == 0;
        pthread_attr_destroy(&attr);
    }
    if (!started)
        l->state = LOOKUP_FREE;
    return started;
}

/* Copies the addresses of host into addr/len (up to LOOKUP_ADDRESSES) and returns how many,
 * 0 when it does not resolve in time, or -ECHO_INTERRUPTED. A lookup still running at the
 * deadline goes on in the background for the calls after this one. */
static int resolve(const char* host, int64_t deadline, unsigned since,
                   struct sockaddr_storage addr[LOOKUP_ADDRESSES],
                   socklen_t len[LOOKUP_ADDRESSES]) {
    int count = 0;
    pthread_mutex_lock(&lock);
    for (;;) {
        if (interrupted(since)) {
            count = -ECHO_INTERRUPTED;
            break;
        }
        struct lookup* l = lookup_slot(host);
        if (l && l->state == LOOKUP_DONE && now_ns() - l->done_at >= LOOKUP_KEEP_NS)
            l->state = LOOKUP_FREE; /* kept long enough: ask again */
        if (l && l->state == LOOKUP_DONE) {
            count = l->count;
            memcpy(addr, l->addr, sizeof l->addr[0] * (size_t)count);
            memcpy(len, l->len, sizeof l->len[0] * (size_t)count);
            break;
        }
        if (l && l->state == LOOKUP_FREE && !start_lookup(l, host))
            break;
        if (!wait_changed(deadline))
            break;
    }
    pthread_mutex_unlock(&lock);
    return count;
}

static int resolve_and_ping(const char* host, char* reply, int size, int32_t* roundTripMs,
                            int64_t deadline, unsigned since) {
    struct sockaddr_storage addr[LOOKUP_ADDRESSES];
    socklen_t len[LOOKUP_ADDRESSES];
    int count = resolve(host, deadline, since, addr, len);
    if (count < 0)
        return -count;
    int result = ECHO_UNRESOLVED;
    /* Move on to the next address only when this one could not even be sent to (an IPv6
     * address on a machine without IPv6, say); once a request is out, its outcome counts. */
    for (int i = 0; i < count; ++i) {
        result = attempt((const struct sockaddr*)&addr[i], len[i], reply, size, roundTripMs,
                         deadline, since);
        if (result != ECHO_SEND_ERROR)
            break;
    }
    return result;
}

int16_t ping(const char* address, char* reply, int16_t packetSize, int32_t* roundTripMs,
             int16_t timeoutMs, uint32_t reserved) {
    (void)reserved;
    if (!address || !roundTripMs || packetSize < 0 || timeoutMs <= 0)
        return ECHO_INVALID_ARGUMENT;
    pthread_once(&init_once, initialise);
    const int64_t deadline = now_ns() + timeoutMs * NS_PER_MS;

    char host[MAX_HOST_TEXT + 1];
    if (!trimmed_host(address, host))
        return ECHO_UNRESOLVED;

    struct echo_thread* t = thread_state();
    const unsigned since = enter_call(t);
    int result;
    struct sockaddr_storage ss;
    socklen_t len = 0;
    switch (parse_literal(host, &ss, &len)) {
    case LITERAL:
        result = attempt((const struct sockaddr*)&ss, len, reply, packetSize, roundTripMs, deadline,
                         since);
        break;
    case BAD_LITERAL:
        result = ECHO_UNRESOLVED;
        break;
    default:
        result = resolve_and_ping(host, reply, packetSize, roundTripMs, deadline, since);
        break;
    }
    leave_call(t);
    if (!have_thread_key) {
        /* nobody would close them at thread exit */
        close_thread_sockets(t);
        if (t->wake_fd >= 0)
            close(t->wake_fd);
        t->wake_fd = -1;
    }
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
    pthread_once(&init_once, initialise);
    pthread_mutex_lock(&lock);
    atomic_fetch_add(&generation, 1u);
    const uint64_t one = 1;
    for (struct echo_thread* t = waiting; t; t = t->next_waiting)
        if (t->wake_fd >= 0 && write(t->wake_fd, &one, sizeof one) < 0) {
            /* full: it is readable already */
        }
    pthread_cond_broadcast(&changed);
    pthread_mutex_unlock(&lock);
}

int echo_open_raw_sockets(void) {
    pthread_once(&init_once, initialise);
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0) {
        close(fd);
        return 0; /* ping sockets will do, with no privilege at all */
    }
    int opened = 0;
    pthread_mutex_lock(&lock);
    for (int i = 0; i < 2; ++i)
        if (shared[i].s.fd < 0 && open_socket(i ? AF_INET6 : AF_INET, KIND_RAW, &shared[i].s) == 0)
            ++opened;
    pthread_mutex_unlock(&lock);
    return opened;
}

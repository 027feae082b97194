/* echoping.c - one ICMP echo request and its reply (see echoping.h): ping() itself.
 *
 * A call trims and resolves the address text (echo_names.c), takes a socket for the family
 * (echo_sockets.c), sends one request and reads until the reply to that very request comes,
 * the time-out passes or echo_interrupt() ends the wait (echo_calls.c).
 *
 * Matching: a request carries a process-wide sequence number, so a reply that arrives late for
 * an earlier, timed-out attempt has the wrong number and is skipped. The identifier is ours on
 * a raw socket; on a ping socket the kernel puts in its own. Either way the reply must come
 * from the address pinged: a ping socket that is not connected takes echo replies from anyone.
 */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif

#include "echoping.h"

#include "echo_internal.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/icmp6.h>
#include <poll.h>
#include <pthread.h>
#include <stdatomic.h>
#include <string.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#define ICMP4_ECHO_REQUEST 8
#define ICMP_HEADER_SIZE 8
#define MAX_PAYLOAD 32767 /* the largest int16_t packetSize; fits ICMP over IPv4 and IPv6 */
/* Room for the largest IPv4 header and the ICMP header; the payload is never looked at, so
 * longer replies are simply cut when read. */
#define RECV_BUFFER 128

static pthread_once_t init_once = PTHREAD_ONCE_INIT;
static unsigned char payload[MAX_PAYLOAD];
static atomic_uint next_sequence;

static void initialise(void) {
    echo_calls_init();
    static const char letters[] = "abcdefghijklmnopqrstuvw";
    for (size_t i = 0; i < MAX_PAYLOAD; ++i)
        payload[i] = (unsigned char)letters[i % (sizeof letters - 1)];
    unsigned process_id = (unsigned)getpid();
    echo_sockets_init(process_id);
    atomic_store(&next_sequence, process_id * 40503u);
}

void echo_init(void) {
    pthread_once(&init_once, initialise);
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
    int wake_fd = echo_this_thread()->wake_fd;
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
                *roundTripMs = (int32_t)((echo_now_ns() - sent_at) / NS_PER_MS);
                if (reply)
                    write_reply_text(reply, &from);
                return ECHO_OK;
            }
            if (echo_now_ns() >= deadline)
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
        if (echo_interrupted(since))
            return ECHO_INTERRUPTED;
        int64_t left = deadline - echo_now_ns();
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

/* Sends one request on s; its sequence number and the moment it left are written back. */
static int send_request(struct echo_socket* s, const struct sockaddr* to, socklen_t to_len,
                        int size, uint16_t* sequence_out, int64_t* sent_at) {
    int family = to->sa_family;
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

    *sequence_out = sequence;
    *sent_at = echo_now_ns();
    ssize_t sent;
    do
        sent = sendmsg(s->fd, &msg, 0);
    while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        if ((errno == EBADF || errno == ENOTSOCK) && !echo_is_shared(s))
            s->fd = -1; /* someone else closed it; it is no longer ours to close */
        return ECHO_SEND_ERROR;
    }
    return ECHO_OK;
}

static int send_and_await(struct echo_socket* s, const struct sockaddr* to, socklen_t to_len,
                          char* reply, int size, int32_t* roundTripMs, int64_t deadline,
                          unsigned since) {
    if (echo_interrupted(since))
        return ECHO_INTERRUPTED;
    uint16_t sequence;
    int64_t sent_at;
    int result = send_request(s, to, to_len, size, &sequence, &sent_at);
    if (result != ECHO_OK)
        return result;
    return await_reply(s, to->sa_family, to, sequence, sent_at, deadline, since, reply,
                       roundTripMs);
}

static int attempt(const struct sockaddr* to, socklen_t to_len, char* reply, int size,
                   int32_t* roundTripMs, int64_t deadline, unsigned since) {
    struct echo_socket* s;
    int result = echo_get_socket(to->sa_family, deadline, since, &s);
    if (result != ECHO_OK)
        return result;
    result = send_and_await(s, to, to_len, reply, size, roundTripMs, deadline, since);
    echo_put_socket(s);
    return result;
}

/* Move on to the next address only when this one could not even be sent to (an IPv6 address on
 * a machine without IPv6, say); once a request is out, its outcome counts. */
static int ping_host(const char* host, char* reply, int size, int32_t* roundTripMs,
                     int64_t deadline, unsigned since) {
    struct sockaddr_storage addr[HOST_ADDRESSES];
    socklen_t len[HOST_ADDRESSES];
    int count = echo_host_addresses(host, deadline, since, addr, len);
    if (count < 0)
        return -count;
    int result = ECHO_UNRESOLVED;
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
    echo_init();
    const int64_t deadline = echo_now_ns() + timeoutMs * NS_PER_MS;

    char host[MAX_HOST_TEXT + 1];
    if (!echo_trimmed_host(address, host))
        return ECHO_UNRESOLVED;

    struct echo_thread* t = echo_thread_state();
    const unsigned since = echo_enter_call(t);
    int result = ping_host(host, reply, packetSize, roundTripMs, deadline, since);
    echo_leave_call(t);
    return (int16_t)result;
}

enum { CALL_DONE = 0, CALL_NOT_SENT = 1, CALL_SENT = 2 };
_Static_assert(ECHO_CALL_HOST == MAX_HOST_TEXT + 1, "a call holds any trimmed host text");

static int start_attempt(struct echo_call* call, char* reply, int32_t* roundTripMs,
                         int32_t quickUs) {
    switch (echo_literal_address(call->host, &call->to, &call->to_len)) {
    case -1:
        return ECHO_UNRESOLVED;
    case 0:
        call->state = CALL_NOT_SENT; /* a name may need its lookup: all of it is for later */
        return ECHO_PENDING;
    }
    const struct sockaddr* to = (const struct sockaddr*)&call->to;
    struct echo_socket* s;
    /* A shared socket that another thread has is not waited for here, but in the second half. */
    int result = echo_get_socket(to->sa_family, echo_now_ns(), call->since, &s);
    if (result == ECHO_TIMEOUT) {
        call->state = CALL_NOT_SENT;
        return ECHO_PENDING;
    }
    if (result != ECHO_OK)
        return result;
    result = send_request(s, to, call->to_len, call->packet_size, &call->sequence, &call->sent_at);
    if (result == ECHO_OK) {
        int64_t quick = call->sent_at + (int64_t)quickUs * 1000;
        result = await_reply(s, to->sa_family, to, call->sequence, call->sent_at,
                             quick < call->deadline ? quick : call->deadline, call->since, reply,
                             roundTripMs);
        if (result == ECHO_TIMEOUT && echo_now_ns() < call->deadline) {
            /* The socket stays taken until the second half has the reply or gives up. */
            call->socket = s;
            call->state = CALL_SENT;
            return ECHO_PENDING;
        }
    }
    echo_put_socket(s);
    return result;
}

int16_t echo_start(struct echo_call* call, const char* address, char* reply, int16_t packetSize,
                   int32_t* roundTripMs, int16_t timeoutMs, int32_t quickUs) {
    if (!call)
        return ECHO_INVALID_ARGUMENT;
    call->state = CALL_DONE;
    if (!address || !roundTripMs || packetSize < 0 || timeoutMs <= 0 || quickUs < 0)
        return ECHO_INVALID_ARGUMENT;
    echo_init();
    call->deadline = echo_now_ns() + timeoutMs * NS_PER_MS;
    call->packet_size = packetSize;
    if (!echo_trimmed_host(address, call->host))
        return ECHO_UNRESOLVED;
    struct echo_thread* t = echo_thread_state();
    call->since = echo_enter_call(t);
    int result = start_attempt(call, reply, roundTripMs, quickUs);
    echo_leave_call(t);
    return (int16_t)result;
}

int16_t echo_finish(struct echo_call* call, char* reply, int32_t* roundTripMs) {
    if (!call || !roundTripMs || call->state == CALL_DONE)
        return ECHO_INVALID_ARGUMENT;
    /* This thread joins the waiting list, so that echo_interrupt() wakes it; the attempt keeps
     * the generation it began in, so an interruption since then ends it at once. */
    struct echo_thread* t = echo_thread_state();
    echo_enter_call(t);
    int result;
    if (call->state == CALL_SENT) {
        struct echo_socket* s = call->socket;
        const struct sockaddr* to = (const struct sockaddr*)&call->to;
        result = await_reply(s, to->sa_family, to, call->sequence, call->sent_at, call->deadline,
                             call->since, reply, roundTripMs);
        echo_put_socket(s);
    } else {
        result = ping_host(call->host, reply, call->packet_size, roundTripMs, call->deadline,
                           call->since);
    }
    echo_leave_call(t);
    call->state = CALL_DONE;
    return (int16_t)result;
}

void echo_abandon(struct echo_call* call) {
    if (call && call->state == CALL_SENT)
        echo_put_socket(call->socket);
    if (call)
        call->state = CALL_DONE;
}

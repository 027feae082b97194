/* echo_names.c - from the address text a caller hands to ping() to the addresses to send to.
 *
 * Literal addresses are parsed here and never reach the resolver. A host name is looked up on a
 * detached thread of its own and the outcome kept for a few seconds in a small table, so that a
 * resolver that never answers costs each attempt no more than its time-out and a pass looks
 * each name up once. There is at most one lookup per name at any time; a call that stops
 * waiting leaves the lookup to finish for the calls after it.
 */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif

#include "echo_internal.h"
#include "echoping.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>

#define LOOKUP_SLOTS 16
#define LOOKUP_KEEP_NS (5 * NS_PER_S)

enum lookup_state { LOOKUP_FREE = 0, LOOKUP_PENDING = 1, LOOKUP_DONE = 2 };

/* One name's lookup. While PENDING, the slot belongs to its lookup thread and is never given
 * to another name, so the thread can read the name and write the outcome without a pointer
 * that could go stale. count 0 records a name that does not resolve. */
struct lookup {
    int state;
    int count;
    int64_t done_at;
    struct sockaddr_storage addr[HOST_ADDRESSES];
    socklen_t len[HOST_ADDRESSES];
    char name[MAX_HOST_TEXT + 1];
};

static struct lookup lookups[LOOKUP_SLOTS]; /* guarded by the component's lock */

/* Every kind of white space, so that a text pasted with its line break still names its host. */
static int is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

/* Copies the address without the blanks around it; 0 when nothing usable is left. */
int echo_trimmed_host(const char* address, char host[MAX_HOST_TEXT + 1]) {
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

static void* run_lookup(void* arg) {
    struct lookup* l = &lookups[(intptr_t)arg];
    struct addrinfo hints, *found = NULL;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    /* The name is not written while the slot is pending, so it is read without the lock. */
    int failed = getaddrinfo(l->name, NULL, &hints, &found) != 0;

    echo_lock();
    l->count = 0;
    for (const struct addrinfo* ai = failed ? NULL : found; ai && l->count < HOST_ADDRESSES;
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
    l->done_at = echo_now_ns();
    echo_broadcast_changed();
    echo_unlock();
    if (found)
        freeaddrinfo(found);
    return NULL;
}

/* The slot for host: its own, or a free one, or the one whose outcome is oldest; NULL while
 * every slot waits for a lookup. Called with the lock held. */
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

/* Copies the addresses of a host name into addr/len and returns how many, 0 when it does not
 * resolve in time, or -ECHO_INTERRUPTED. A lookup still running at the deadline goes on in the
 * background for the calls after this one. */
static int resolve(const char* host, int64_t deadline, unsigned since,
                   struct sockaddr_storage addr[HOST_ADDRESSES], socklen_t len[HOST_ADDRESSES]) {
    int count = 0;
    echo_lock();
    for (;;) {
        if (echo_interrupted(since)) {
            count = -ECHO_INTERRUPTED;
            break;
        }
        struct lookup* l = lookup_slot(host);
        if (l && l->state == LOOKUP_DONE && echo_now_ns() - l->done_at >= LOOKUP_KEEP_NS)
            l->state = LOOKUP_FREE; /* kept long enough: ask again */
        if (l && l->state == LOOKUP_DONE) {
            count = l->count;
            memcpy(addr, l->addr, sizeof l->addr[0] * (size_t)count);
            memcpy(len, l->len, sizeof l->len[0] * (size_t)count);
            break;
        }
        if (l && l->state == LOOKUP_FREE && !start_lookup(l, host))
            break;
        if (!echo_wait_changed(deadline))
            break;
    }
    echo_unlock();
    return count;
}

/* The addresses to try for host, as resolve() counts them: a literal is one address at once, a
 * text that only looks like one (999.1.1.1) none. */
int echo_host_addresses(const char* host, int64_t deadline, unsigned since,
                        struct sockaddr_storage addr[HOST_ADDRESSES],
                        socklen_t len[HOST_ADDRESSES]) {
    len[0] = 0;
    switch (parse_literal(host, &addr[0], &len[0])) {
    case LITERAL:
        return 1;
    case BAD_LITERAL:
        return 0;
    default:
        return resolve(host, deadline, since, addr, len);
    }
}

int echo_literal_address(const char* host, struct sockaddr_storage* addr, socklen_t* len) {
    switch (parse_literal(host, addr, len)) {
    case LITERAL:
        return 1;
    case BAD_LITERAL:
        return -1;
    default:
        return 0;
    }
}

void echo_names_after_fork(void) {
    for (int i = 0; i < LOOKUP_SLOTS; ++i)
        if (lookups[i].state == LOOKUP_PENDING)
            lookups[i].state = LOOKUP_FREE;
}

/* echo_calls.c - the bookkeeping that lets echo_interrupt() end every waiting ping() at once.
 *
 * Every wait (for a reply, a name lookup or the shared raw socket) watches the process-wide
 * interruption generation: a call notes it on entry and gives up as soon as it has moved on. A
 * thread waiting for a reply is woken through its own eventfd, found on the list of threads
 * inside a call; the other waits sleep on one condition variable, which is broadcast too.
 *
 * Each thread's record lives in thread-local storage; a key destructor closes its sockets and
 * eventfd when the thread ends, and fork handlers leave the child with none of the parent's
 * waiters, shared-socket claims or lookups.
 */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif

#include "echo_internal.h"
#include "echoping.h"

#include <pthread.h>
#include <stdatomic.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

static _Thread_local struct echo_thread tls = {
    0, {{-1, KIND_NONE, 0}, {-1, KIND_NONE, 0}}, -1, NULL};

static pthread_key_t thread_key;
static int have_thread_key;

/* changed is broadcast when a lookup ends, a shared socket is released or an interruption
 * comes. */
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t changed;
static atomic_uint generation;
static struct echo_thread* waiting;

static void close_wake_fd(struct echo_thread* t) {
    if (t->wake_fd >= 0)
        close(t->wake_fd);
    t->wake_fd = -1;
}

static void on_thread_exit(void* state) {
    struct echo_thread* t = state;
    echo_close_sockets(t);
    close_wake_fd(t);
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
    close_wake_fd(&tls);
    waiting = NULL;
    echo_sockets_after_fork();
    echo_names_after_fork();
    pthread_mutex_unlock(&lock);
}

void echo_calls_init(void) {
    have_thread_key = pthread_key_create(&thread_key, on_thread_exit) == 0;
    pthread_atfork(before_fork, after_fork_parent, after_fork_child);
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&changed, &attr);
    pthread_condattr_destroy(&attr);
}

struct echo_thread* echo_this_thread(void) {
    return &tls;
}

struct echo_thread* echo_thread_state(void) {
    if (!tls.registered) {
        if (have_thread_key)
            pthread_setspecific(thread_key, &tls);
        tls.registered = 1;
    }
    return &tls;
}

int64_t echo_now_ns(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * NS_PER_S + ts.tv_nsec;
}

int echo_interrupted(unsigned since) {
    return atomic_load(&generation) != since;
}

/* Joins the waiting list, so that echo_interrupt() can wake this thread; returns the
 * generation that this call belongs to. */
unsigned echo_enter_call(struct echo_thread* t) {
    pthread_mutex_lock(&lock);
    if (t->wake_fd < 0)
        t->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); /* without one, waits see it late */
    t->next_waiting = waiting;
    waiting = t;
    unsigned since = atomic_load(&generation);
    pthread_mutex_unlock(&lock);
    return since;
}

void echo_leave_call(struct echo_thread* t) {
    pthread_mutex_lock(&lock);
    for (struct echo_thread** p = &waiting; *p; p = &(*p)->next_waiting)
        if (*p == t) {
            *p = t->next_waiting;
            break;
        }
    pthread_mutex_unlock(&lock);
    if (!have_thread_key) {
        /* nobody would close them at thread exit */
        echo_close_sockets(t);
        close_wake_fd(t);
    }
}

void echo_lock(void) {
    pthread_mutex_lock(&lock);
}

void echo_unlock(void) {
    pthread_mutex_unlock(&lock);
}

int echo_wait_changed(int64_t deadline) {
    if (echo_now_ns() >= deadline)
        return 0;
    struct timespec until = {(time_t)(deadline / NS_PER_S), (long)(deadline % NS_PER_S)};
    pthread_cond_timedwait(&changed, &lock, &until);
    return 1;
}

void echo_broadcast_changed(void) {
    pthread_cond_broadcast(&changed);
}

void echo_interrupt(void) {
    echo_init();
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

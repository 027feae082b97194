#include "platform/Echo.h"

#include "echo.h"

#include <QHash>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <map>
#include <netdb.h>
#include <string>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace ew {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::nanoseconds;

// The longest host text handed to the resolver (a DNS name has at most 253 characters; room
// for any scoped IPv6 literal besides).
constexpr std::size_t HostText = 1025;
// How long one wake-up reads at most, so that neither a flood on a raw socket nor a pass over
// hosts that answer at once holds the window: a loopback reply is in the socket before its
// send returns, so the attempts of a pass one after another would otherwise follow each other
// without the event loop turning. Within the span, lines that end together show together.
constexpr auto WakeSpan = std::chrono::milliseconds(1);
// How often open name lookups are asked whether they have ended: only while one is open.
constexpr int LookupPollMs = 2;
// How long a name's answer serves later attempts: watching a name every tenth of a second costs
// the resolver one question a minute, and a changed address is followed within a minute.
constexpr auto AnswerKept = std::chrono::minutes(1);
// The most literals and names whose addresses are kept; either kind is forgotten all at once
// beyond it, so that texts that come and go cannot grow the echo without bound.
constexpr int TextsKept = 4096;

int familyIndex(int family) {
    return family == AF_INET6 ? 1 : 0;
}

std::uint32_t sentKey(int family, std::uint16_t sequence) {
    return static_cast<std::uint32_t>(familyIndex(family)) << 16 | sequence;
}

} // namespace

struct IcmpEcho::Impl {
    struct Attempt {
        Done done;
        int packetSize = 0;
        nanoseconds timeout{0};
        std::multimap<Clock::time_point, std::uint64_t>::iterator due;
        int family = AF_UNSPEC; // once sent: until then, the name's lookup is open
        std::uint16_t sequence = 0;
        std::int64_t sentNs = 0;
        sockaddr_storage to{};
    };
    struct Socket {
        echo_socket s{-1, AF_UNSPEC, 0, 0, 0};
        std::unique_ptr<QSocketNotifier> notifier;
    };

    // A name's lookup through glibc's getaddrinfo_a, shared by the attempts that ask for the
    // name while it is open. Its helper thread writes the answer into the block, which lives
    // until the lookup has ended, whatever became of the attempts.
    struct Lookup {
        std::string name;
        gaicb request{};
        std::vector<std::uint64_t> waiting;
    };

    IcmpEcho& q;
    int mode;
    std::unordered_map<std::uint64_t, Attempt> attempts;
    // Requests out, by family and sequence number (sentKey): where a reply is looked up.
    std::unordered_map<std::uint32_t, std::uint64_t> sent;
    std::multimap<Clock::time_point, std::uint64_t> deadlines;
    // Address literals as the socket calls want them, by the text they were read from.
    struct Literal {
        sockaddr_storage to{};
        socklen_t len = 0;
    };
    QHash<QString, Literal> literals;
    QTimer timer;
    Clock::time_point armedFor;
    std::unordered_map<std::string, std::unique_ptr<Lookup>> lookups; // the open ones, by name
    struct Answer {
        std::unique_ptr<addrinfo, void (*)(addrinfo*)> addresses{nullptr, freeaddrinfo};
        Clock::time_point until;
    };
    std::unordered_map<std::string, Answer> answers; // by name
    QTimer lookupPoll;
    Socket sockets[2];
    std::uint64_t lastId = 0;
    // Starts somewhere of its own, so that two runs of the program do not begin alike.
    std::uint16_t nextSequence = static_cast<std::uint16_t>(getpid() * 40503u);

    Impl(IcmpEcho& owner, int socketMode) : q(owner), mode(socketMode) {
        // A coarse timer could end a time-out up to 5 % early.
        timer.setTimerType(Qt::PreciseTimer);
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &q, [this] { expire(); });
        lookupPoll.setInterval(LookupPollMs);
        QObject::connect(&lookupPoll, &QTimer::timeout, &q, [this] { pollLookups(); });
    }

    ~Impl() {
        for (auto& [name, l] : lookups) {
            const int cancelled = gai_cancel(&l->request);
            if (cancelled == EAI_NOTCANCELED)
                (void)l.release(); // its helper thread still writes into it: left to the process
            else if (cancelled == EAI_ALLDONE)
                freeaddrinfo(l->request.ar_result);
        }
        for (Socket& s : sockets) {
            s.notifier.reset();
            echo_close(&s.s);
        }
    }

    // The timer is set for the earliest deadline, and only moved when one earlier comes: an
    // attempt that ends before its deadline leaves it as it is (it then fires for nothing, at
    // most once a time-out), which spares setting a timer twice for every attempt.
    void arm() {
        if (deadlines.empty())
            return;
        const Clock::time_point first = deadlines.begin()->first;
        if (timer.isActive() && armedFor <= first)
            return;
        // Rounded up: a time-out never ends before its time.
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(first - Clock::now()).count();
        timer.start(static_cast<int>(std::max<decltype(ms)>(ms, 0)));
        armedFor = first;
    }

    // Ends an attempt and tells its caller; done may start or cancel other attempts.
    void finish(std::uint64_t id, const EchoOutcome& outcome) {
        const auto it = attempts.find(id);
        if (it == attempts.end())
            return;
        Done done = std::move(it->second.done);
        forget(it);
        done(outcome);
    }

    void forget(std::unordered_map<std::uint64_t, Attempt>::iterator it) {
        Attempt& a = it->second;
        deadlines.erase(a.due);
        if (a.family != AF_UNSPEC)
            sent.erase(sentKey(a.family, a.sequence));
        attempts.erase(it);
    }

    // A failure known at once still comes from the event loop, never from within start(). Qt
    // delivers the call before a timer that fell due meanwhile: the time-out cannot take its place.
    void failSoon(std::uint64_t id, int result) {
        QTimer::singleShot(0, &q, [this, id, result] { finish(id, {result, {}}); });
    }

    // ECHO_OK once the request is out; its family's socket is opened on first use.
    int send(std::uint64_t id, Attempt& a, const sockaddr* to, socklen_t len) {
        const int family = to->sa_family;
        Socket& s = sockets[familyIndex(family)];
        if (s.s.fd < 0) {
            if (const int opened = echo_open(&s.s, family, mode); opened != ECHO_OK)
                return opened;
            s.notifier = std::make_unique<QSocketNotifier>(s.s.fd, QSocketNotifier::Read);
            QObject::connect(s.notifier.get(), &QSocketNotifier::activated, &q,
                             [this] { readReplies(); });
        }
        // A sequence number still waiting for its reply is not given out again.
        std::uint16_t sequence = nextSequence++;
        for (int tries = 0; sent.count(sentKey(family, sequence)) && tries < 0x10000; ++tries)
            sequence = nextSequence++;
        if (const int out = echo_send(&s.s, to, len, sequence, a.packetSize, &a.sentNs);
            out != ECHO_OK)
            return out;
        a.family = family;
        a.sequence = sequence;
        std::memcpy(&a.to, to, len);
        sent.emplace(sentKey(a.family, sequence), id);
        return ECHO_OK;
    }

    // Sends to a name's kept answer, or waits for its lookup (started when none is open); the
    // failure when neither can be.
    int lookUp(std::uint64_t id, Attempt& a, const char* name) {
        if (const auto kept = answers.find(name); kept != answers.end()) {
            if (Clock::now() < kept->second.until)
                return sendToFirst(id, a, kept->second.addresses.get());
            answers.erase(kept);
        }
        std::unique_ptr<Lookup>& l = lookups[name];
        if (!l) {
            static const addrinfo hints = [] {
                addrinfo h{};
                h.ai_socktype = SOCK_DGRAM; // one answer per address
                h.ai_flags = AI_IDN;
                return h;
            }();
            l = std::make_unique<Lookup>();
            l->name = name;
            l->request.ar_name = l->name.c_str();
            l->request.ar_request = &hints;
            gaicb* list[] = {&l->request};
            if (getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) != 0) {
                lookups.erase(name);
                return ECHO_UNRESOLVED;
            }
            if (!lookupPoll.isActive())
                lookupPoll.start();
        }
        l->waiting.push_back(id);
        return ECHO_OK;
    }

    void pollLookups() {
        std::vector<std::unique_ptr<Lookup>> ended;
        for (auto it = lookups.begin(); it != lookups.end();) {
            if (gai_error(&it->second->request) == EAI_INPROGRESS) {
                ++it;
                continue;
            }
            ended.push_back(std::move(it->second));
            it = lookups.erase(it);
        }
        if (lookups.empty())
            lookupPoll.stop();
        // The attempts' callbacks may start lookups of their own: the open ones were set aside.
        for (const auto& l : ended) {
            Answer answer{{l->request.ar_result, freeaddrinfo}, Clock::now() + AnswerKept};
            for (const std::uint64_t id : l->waiting) {
                const auto it = attempts.find(id);
                if (it == attempts.end())
                    continue; // stopped, or ended by its time-out
                if (const int result = sendToFirst(id, it->second, answer.addresses.get());
                    result != ECHO_OK)
                    finish(id, {result, {}});
            }
            if (answer.addresses) {
                if (answers.size() >= std::size_t{TextsKept})
                    answers.clear();
                answers[l->name] = std::move(answer);
            }
        }
    }

    int sendToFirst(std::uint64_t id, Attempt& a, const addrinfo* found) {
        // Move on to the next address only when this one could not even be sent to (an IPv6
        // address on a machine without IPv6, say); once a request is out, its outcome counts.
        int result = ECHO_UNRESOLVED;
        for (; found; found = found->ai_next) {
            if (found->ai_family != AF_INET && found->ai_family != AF_INET6)
                continue;
            result = send(id, a, found->ai_addr, found->ai_addrlen);
            if (result != ECHO_SEND_ERROR)
                break;
        }
        return result;
    }

    // Reads what both sockets hold: a reply to an IPv4 attempt and one to the IPv6 attempt
    // that its outcome started come in one wake-up, and show in one repaint.
    void readReplies() {
        const auto until = Clock::now() + WakeSpan;
        int round = 0;
        for (bool got = true; got;) {
            got = false;
            for (int family : {AF_INET, AF_INET6})
                got = readReply(family) || got;
            // The clock is asked every sixteenth round: a round takes a few microseconds.
            if (++round % 16 == 0 && Clock::now() >= until)
                break;
        }
        if (deadlines.empty())
            timer.stop(); // nothing to time: no wake-up for nothing
    }

    // False when the socket had nothing to read (or an error that the time-outs will show).
    bool readReply(int family) {
        Socket& s = sockets[familyIndex(family)];
        echo_reply r;
        const int got = s.s.fd < 0 ? -1 : echo_receive(&s.s, &r);
        if (got <= 0)
            return got == 0;
        const auto match = sent.find(sentKey(family, r.sequence));
        if (match == sent.end())
            return true; // late, or not ours
        const std::uint64_t id = match->second;
        const Attempt& a = attempts.at(id);
        if (!echo_matches(&s.s, &r, reinterpret_cast<const sockaddr*>(&a.to), a.sequence))
            return true;
        const nanoseconds roundTrip{std::max<std::int64_t>(r.received_ns - a.sentNs, 0)};
        // Stamped by the kernel after the time-out: a failure, however soon it is read.
        if (roundTrip <= a.timeout)
            finish(id, {ECHO_OK, roundTrip});
        return true;
    }

    void expire() {
        // Replies that came in before their time-out but wait to be read count as replies,
        // whether or not their socket's notifier has told of them yet.
        readReplies();
        while (!deadlines.empty() && deadlines.begin()->first <= Clock::now()) {
            // A name that is still being looked up has not resolved in time.
            const std::uint64_t id = deadlines.begin()->second;
            finish(id, {attempts.at(id).family == AF_UNSPEC ? ECHO_UNRESOLVED : ECHO_TIMEOUT, {}});
        }
        arm();
    }
};

IcmpEcho::IcmpEcho(int mode) : d_(std::make_unique<Impl>(*this, mode)) {}

IcmpEcho::~IcmpEcho() = default;

std::uint64_t IcmpEcho::start(const QString& address, int packetSize, int timeoutMs, Done done) {
    const std::uint64_t id = ++d_->lastId;
    Impl::Attempt& a = d_->attempts[id];
    a.done = std::move(done);
    a.packetSize = packetSize;
    a.timeout = std::chrono::milliseconds(timeoutMs);
    const Clock::time_point due = Clock::now() + a.timeout;
    const bool first = d_->deadlines.empty() || due < d_->deadlines.begin()->first;
    a.due = d_->deadlines.emplace(due, id);
    if (first)
        d_->arm();

    // A pass asks for the same few addresses again and again: a literal is read once.
    Impl::Literal literal;
    char host[HostText];
    int kind = 1;
    if (const auto known = d_->literals.constFind(address); known != d_->literals.constEnd()) {
        literal = *known;
    } else {
        kind = echo_parse_address(address.toLocal8Bit().constData(), host, sizeof host, &literal.to,
                                  &literal.len);
        // A scoped address (fe80::1%eth0) names its interface by number, which changes when
        // the interface comes again: it is read afresh each time.
        const bool scoped = literal.to.ss_family == AF_INET6 &&
                            reinterpret_cast<const sockaddr_in6&>(literal.to).sin6_scope_id != 0;
        if (kind == 1 && !scoped) {
            if (d_->literals.size() >= TextsKept)
                d_->literals.clear();
            d_->literals.insert(address, literal);
        }
    }
    // A name's lookup counts against the attempt's time-out, which ends it should the resolver
    // not answer. Attempts at a name whose lookup is open wait for it.
    const auto* to = reinterpret_cast<const sockaddr*>(&literal.to);
    const int result = kind == 1   ? d_->send(id, a, to, literal.len)
                       : kind == 0 ? d_->lookUp(id, a, host)
                                   : ECHO_UNRESOLVED;
    if (result != ECHO_OK)
        d_->failSoon(id, result);
    return id;
}

void IcmpEcho::cancel(std::uint64_t attempt) {
    const auto it = d_->attempts.find(attempt);
    if (it != d_->attempts.end())
        d_->forget(it);
}

} // namespace ew

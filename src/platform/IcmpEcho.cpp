#include "platform/Echo.h"

#include "echo.h"

#include <QHash>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
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
// hosts that answer at once (a loopback reply is in before its send returns) holds the window.
constexpr auto WakeSpan = std::chrono::milliseconds(1);
// How often open name lookups are asked whether they have ended: only while one is open.
constexpr int LookupPollMs = 2;
// How long a name's answer serves later attempts: watching a name every tenth of a second costs
// the resolver one question a minute, and a changed address is followed within a minute.
constexpr auto AnswerKept = std::chrono::minutes(1);
// The most literals and names whose addresses are kept; either kind is forgotten all at once
// beyond it, so that texts that come and go cannot grow the echo without bound.
constexpr int TextsKept = 4096;
// Answered attempts are remembered, by their sequence number, in this many places (the last
// few seconds of a pass at once over thousands of hosts), and for at most this long, so that a
// reply that comes again counts as a duplicate.
constexpr std::size_t AnsweredKept = 4096;
constexpr auto DuplicatesWatched = std::chrono::minutes(1);
// The ICMP errors read at most in one go from a socket's error queue (a raw socket is also
// handed those about other programs' requests).
constexpr int ErrorsPerRead = 64;

// The numeric text of an address, with the scope of a scoped IPv6 address.
QString numericText(const sockaddr* to, socklen_t len) {
    char text[NI_MAXHOST];
    return getnameinfo(to, len, text, sizeof text, nullptr, 0, NI_NUMERICHOST) == 0
               ? QString::fromLatin1(text)
               : QString();
}

} // namespace

struct IcmpEcho::Impl {
    struct Attempt {
        std::uint64_t id = 0;
        Done done;
        int packetSize = 0;
        nanoseconds timeout{0};
        Clock::time_point due;
        int family = AF_UNSPEC; // once sent: until then, the name's lookup is open
        Clock::time_point sent;
        sockaddr_storage to{};
        QString text; // as the attempt was started
        QString ip;   // where its request went
    };
    // An attempt that got its reply, for a while: its place is its sequence number's.
    struct Answered {
        Clock::time_point at{};
        std::uint16_t sequence = 0;
        int family = AF_UNSPEC;
        sockaddr_in6 to{}; // room for either family's address
        QString text;
    };
    struct Socket {
        echo_socket s{-1, AF_UNSPEC, 0, 0, 0};
        std::unique_ptr<QSocketNotifier> notifier;
    };

    // A name's lookup through glibc's getaddrinfo_a, shared by the attempts that ask while it
    // is open. Its helper thread writes into the block, which lives until the lookup has ended.
    struct Lookup {
        std::string name;
        gaicb request{};
        std::vector<std::uint64_t> waiting;
    };

    IcmpEcho& q;
    int mode;
    // The attempts by their sequence number, the low 16 bits of their id, which is where a reply
    // is looked up. A number still waiting for its reply is not given out again, unless all are.
    std::unordered_multimap<std::uint16_t, Attempt> attempts;
    using Iterator = decltype(attempts)::iterator;
    // Address literals as the socket calls want them, by the text they were read from.
    struct Literal {
        sockaddr_storage to{};
        socklen_t len = 0;
        QString ip;
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
    Socket sockets[2];              // IPv4, IPv6
    std::vector<Answered> answered; // AnsweredKept places once the first reply came
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

    Iterator find(std::uint64_t id) {
        const auto [from, end] = attempts.equal_range(static_cast<std::uint16_t>(id));
        const auto it = std::find_if(from, end, [id](const auto& e) { return e.second.id == id; });
        return it == end ? attempts.end() : it;
    }

    // The timer is set for the earliest deadline, and only moved when one earlier comes: an
    // attempt that ends before its deadline leaves it (to fire for nothing, once a time-out).
    void arm(Clock::time_point due) {
        if (timer.isActive() && armedFor <= due)
            return;
        // Rounded up: a time-out never ends before its time.
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
        timer.start(static_cast<int>(std::max<decltype(ms)>(ms, 0)));
        armedFor = due;
    }

    // Ends an attempt and tells its caller; done may start or cancel other attempts.
    void finish(Iterator it, int result, nanoseconds roundTrip = {}) {
        Done done = std::move(it->second.done);
        const EchoOutcome outcome{result, roundTrip, std::move(it->second.ip)};
        attempts.erase(it);
        done(outcome);
    }

    // A failure known at once still comes from the event loop, never from within start(). Qt
    // delivers the call before a timer that fell due meanwhile: the time-out cannot take its place.
    void failSoon(std::uint64_t id, int result) {
        QTimer::singleShot(0, &q, [this, id, result] {
            if (const auto it = find(id); it != attempts.end())
                finish(it, result);
        });
    }

    // ECHO_OK once the request is out; its family's socket is opened on first use.
    int send(Attempt& a, const sockaddr* to, socklen_t len, Clock::time_point now) {
        const int family = to->sa_family;
        Socket& s = sockets[family == AF_INET6];
        if (s.s.fd < 0) {
            if (const int opened = echo_open(&s.s, family, mode); opened != ECHO_OK)
                return opened;
            s.notifier = std::make_unique<QSocketNotifier>(s.s.fd, QSocketNotifier::Read);
            QObject::connect(s.notifier.get(), &QSocketNotifier::activated, &q,
                             [this, family] { readReplies(true, family); });
        }
        const auto sequence = static_cast<std::uint16_t>(a.id);
        a.sent = now;
        if (const int out = echo_send(&s.s, to, len, sequence, a.packetSize); out != ECHO_OK)
            return out;
        a.family = family;
        std::memcpy(&a.to, to, len);
        return ECHO_OK;
    }

    // Sends to a name's kept answer, or waits for its lookup (started when none is open); the
    // failure when neither can be.
    int lookUp(Attempt& a, const char* name, Clock::time_point now) {
        if (const auto kept = answers.find(name); kept != answers.end()) {
            if (now < kept->second.until)
                return sendToFirst(a, kept->second.addresses.get(), now);
            answers.erase(kept);
        }
        std::unique_ptr<Lookup>& l = lookups[name];
        if (!l) {
            // Datagram sockets: one answer per address.
            static const addrinfo hints{AI_IDN, AF_UNSPEC, SOCK_DGRAM, 0,
                                        0,      nullptr,   nullptr,    nullptr};
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
        l->waiting.push_back(a.id);
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
                const auto it = find(id);
                if (it == attempts.end())
                    continue; // stopped, or ended by its time-out
                if (const int result =
                        sendToFirst(it->second, answer.addresses.get(), Clock::now());
                    result != ECHO_OK)
                    finish(it, result);
            }
            if (answer.addresses) {
                if (answers.size() >= std::size_t{TextsKept})
                    answers.clear();
                answers[l->name] = std::move(answer);
            }
        }
    }

    int sendToFirst(Attempt& a, const addrinfo* found, Clock::time_point now) {
        // Move on to the next address only when this one could not even be sent to (an IPv6
        // address on a machine without IPv6, say); once a request is out, its outcome counts.
        int result = ECHO_UNRESOLVED;
        for (; found; found = found->ai_next) {
            if (found->ai_family != AF_INET && found->ai_family != AF_INET6)
                continue;
            a.ip = numericText(found->ai_addr, found->ai_addrlen);
            result = send(a, found->ai_addr, found->ai_addrlen, now);
            if (result != ECHO_SEND_ERROR)
                break;
        }
        return result;
    }

    // Reads both sockets, so that replies that come together show in one repaint; once no
    // attempt waits, only until empty when a notifier asks (what comes late waits for it).
    // woken: the family whose socket's notifier asked; one that had nothing to read has an
    // error in its queue that no plain read tells of.
    void readReplies(bool untilEmpty = true, int woken = AF_UNSPEC) {
        const Clock::time_point now = Clock::now();
        const auto until = now + WakeSpan;
        // The kernel stamps replies on the wall clock, which runs at the steady clock's rate: their
        // distance, read once a wake-up, puts a stamp on the clock that the sends were read from.
        timespec wall{};
        clock_gettime(CLOCK_REALTIME, &wall);
        const auto wallAhead =
            std::chrono::seconds(wall.tv_sec) + nanoseconds(wall.tv_nsec) - now.time_since_epoch();
        int round = 0;
        bool wokenRead = false;
        for (bool got = true; got && (untilEmpty || !attempts.empty());) {
            got = false;
            for (int family : {AF_INET, AF_INET6}) {
                const bool read = readReply(family, wallAhead);
                wokenRead = wokenRead || (read && family == woken);
                got = got || read;
            }
            // The clock is asked every sixteenth round: a round takes a few microseconds.
            if (++round % 16 == 0 && Clock::now() >= until)
                break;
        }
        if (woken != AF_UNSPEC && !wokenRead)
            readErrors(woken, false);
        if (attempts.empty())
            timer.stop(); // nothing to time: no wake-up for nothing
    }

    // The attempt that a reply or an ICMP error answers: its request went out on this socket,
    // to the host that answers (or, for an error, where the error says it went).
    Iterator answeredBy(int family, const echo_reply& r) {
        const echo_socket* s = &sockets[family == AF_INET6].s;
        const auto [from, end] = attempts.equal_range(r.sequence);
        const auto it = std::find_if(from, end, [&](const auto& entry) {
            const Attempt& a = entry.second;
            return a.family == family &&
                   echo_matches(s, &r, reinterpret_cast<const sockaddr*>(&a.to));
        });
        return it == end ? attempts.end() : it;
    }

    // False when the socket had nothing to read.
    bool readReply(int family, nanoseconds wallAhead) {
        Socket& s = sockets[family == AF_INET6];
        echo_reply r;
        const int got = s.s.fd < 0 ? -1 : echo_receive(&s.s, &r);
        if (got < 0)
            return s.s.fd >= 0 && errno != EAGAIN && errno != EWOULDBLOCK &&
                   readErrors(family, true);
        if (got == 0)
            return true;
        const auto it = answeredBy(family, r);
        if (it == attempts.end()) {
            noteDuplicate(family, r); // or late, or not ours
            return true;
        }
        const Clock::time_point received{nanoseconds(r.received_ns) - wallAhead};
        const nanoseconds roundTrip = std::max(received - it->second.sent, nanoseconds(0));
        // Stamped by the kernel after the time-out: a failure, however soon it is read.
        if (roundTrip <= it->second.timeout) {
            remember(it->second, received);
            finish(it, ECHO_OK, roundTrip);
        }
        return true;
    }

    // Ends the attempts that the ICMP errors in the socket's queue answer; true when it held
    // some. A plain read that failed (failed) is told of once for each such error, so a failure
    // with none waiting is one of the socket's own.
    bool readErrors(int family, bool failed) {
        const echo_socket* s = &sockets[family == AF_INET6].s;
        echo_reply r;
        int read = 0;
        for (int got; read < ErrorsPerRead && (got = echo_receive_error(s, &r)) >= 0; ++read)
            if (const auto it = got == 1 ? answeredBy(family, r) : attempts.end();
                it != attempts.end())
                finish(it, r.result);
        if (failed && read == 0 && q.events_.receiveError)
            q.events_.receiveError();
        return read > 0;
    }

    void remember(const Attempt& a, Clock::time_point at) {
        if (answered.empty())
            answered.resize(AnsweredKept);
        Answered& place = answered[static_cast<std::uint16_t>(a.id) % AnsweredKept];
        place = {at, static_cast<std::uint16_t>(a.id), a.family, {}, a.text};
        std::memcpy(&place.to, &a.to, std::min(sizeof place.to, sizeof a.to));
    }

    void noteDuplicate(int family, const echo_reply& r) {
        if (answered.empty() || !q.events_.duplicate)
            return;
        const Answered& place = answered[r.sequence % AnsweredKept];
        if (place.sequence == r.sequence && place.family == family &&
            Clock::now() - place.at < DuplicatesWatched &&
            echo_matches(&sockets[family == AF_INET6].s, &r,
                         reinterpret_cast<const sockaddr*>(&place.to)))
            q.events_.duplicate(place.text);
    }

    void expire() {
        // Replies that came in before their time-out count, told by their notifier or not.
        readReplies();
        // Ended in the order of their deadlines, and of their start where those are the same.
        std::vector<std::pair<Clock::time_point, std::uint64_t>> due;
        const Clock::time_point now = Clock::now();
        for (const auto& [sequence, a] : attempts)
            if (a.due <= now)
                due.emplace_back(a.due, a.id);
        std::sort(due.begin(), due.end());
        // A name that is still being looked up has not resolved in time.
        for (const auto& [when, id] : due)
            if (const auto it = find(id); it != attempts.end())
                finish(it, it->second.family == AF_UNSPEC ? ECHO_UNRESOLVED : ECHO_TIMEOUT);
        for (const auto& [sequence, a] : attempts)
            arm(a.due);
    }
};

IcmpEcho::IcmpEcho(int mode) : d_(std::make_unique<Impl>(*this, mode)) {}

IcmpEcho::~IcmpEcho() = default;

std::uint64_t IcmpEcho::start(const QString& address, int packetSize, int timeoutMs, Done done) {
    // Fewer attempts than numbers leave one free: the search ends.
    std::uint16_t sequence = d_->nextSequence++;
    while (d_->attempts.size() < 0x10000 && d_->attempts.count(sequence))
        sequence = d_->nextSequence++;
    const std::uint64_t id = ++d_->lastId << 16 | sequence;
    Impl::Attempt& a = d_->attempts.emplace(sequence, Impl::Attempt{})->second;
    a.id = id;
    a.text = address;
    a.done = std::move(done);
    a.packetSize = packetSize;
    a.timeout = std::chrono::milliseconds(timeoutMs);
    const Clock::time_point now = Clock::now();
    a.due = now + a.timeout;
    d_->arm(a.due);

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
        if (kind == 1)
            literal.ip = numericText(reinterpret_cast<const sockaddr*>(&literal.to), literal.len);
        if (kind == 1 && !scoped) {
            if (d_->literals.size() >= TextsKept)
                d_->literals.clear();
            d_->literals.insert(address, literal);
        }
    }
    // A name's lookup counts against the attempt's time-out, which ends it should the resolver
    // not answer. Attempts at a name whose lookup is open wait for it.
    a.ip = literal.ip;
    const int result =
        kind == 1   ? d_->send(a, reinterpret_cast<const sockaddr*>(&literal.to), literal.len, now)
        : kind == 0 ? d_->lookUp(a, host, now)
                    : ECHO_UNRESOLVED;
    if (result != ECHO_OK)
        d_->failSoon(id, result);
    return id;
}

void IcmpEcho::cancel(std::uint64_t attempt) {
    if (const auto it = d_->find(attempt); it != d_->attempts.end())
        d_->attempts.erase(it);
}

void IcmpEcho::collect() {
    d_->readReplies(false); // what comes late waits for its notifier
}

} // namespace ew

// A TCP proxy on 127.0.0.1 that delays everything passing through it, to
// measure a save over a line with a round trip time, without root rights.
//
//   latency-proxy LISTEN_PORT TARGET_PORT DELAY_MS [TARGET_HOST]
//
// Listens on 127.0.0.1:LISTEN_PORT (0: a free port) and prints the port on
// its first line; each connection is forwarded to TARGET_HOST:TARGET_PORT
// (default 127.0.0.1). Every chunk read in either direction goes on DELAY_MS
// after it arrived, as on a line of that one-way delay: the data is delayed,
// not throttled. A new connection's first bytes are held as if the TCP
// handshake had taken a round trip, since the client's connect to the proxy
// costs nothing. A half-close is passed on after the same delay; a
// connection ends once both directions have ended. One thread, epoll.

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A direction stops reading while this much waits in it, so that a fast
// sender cannot fill the memory; far above what the delay needs to keep a
// loopback line busy.
constexpr std::size_t QueueLimit = 16 << 20;
constexpr std::size_t ReadSize = 64 << 10;

struct Chunk {
    Clock::time_point Due;
    std::string Data; // empty: the end of the direction
    std::size_t Sent = 0;
};

struct Pair;

// One socket of a pair, as epoll sees it.
struct Endpoint {
    Pair* Owner = nullptr;
    int Side = 0;
    bool Watched = false;
};

// Bytes read from Fd[From] wait in Queue until due, then go to Fd[1 - From].
struct Direction {
    std::deque<Chunk> Queue;
    std::size_t Queued = 0;
    bool ReadEnded = false;  // the end is read (and queued)
    bool WriteEnded = false; // the end is passed on
    bool WriteBlocked = false;
    Clock::time_point NotBefore; // nothing goes on earlier
};

struct Pair {
    int Fd[2] = {-1, -1}; // 0: the client, 1: the target
    Endpoint Ends[2];
    Direction Dir[2]; // Dir[i]: read from Fd[i]
    bool Dead = false;
};

int Epoll = -1;
std::chrono::milliseconds Delay{0};

void SetNonBlocking(int Fd) {
    fcntl(Fd, F_SETFL, fcntl(Fd, F_GETFL) | O_NONBLOCK);
}

// What epoll should wake us for on side S of P. A socket with nothing to
// wait for is taken out, or its hang-up would wake us without end.
void Watch(Pair& P, int S) {
    epoll_event e{};
    const Direction& in = P.Dir[S];
    const Direction& out = P.Dir[1 - S];
    if (!in.ReadEnded && in.Queued < QueueLimit)
        e.events |= EPOLLIN;
    if (out.WriteBlocked)
        e.events |= EPOLLOUT;
    Endpoint& end = P.Ends[S];
    e.data.ptr = &end;
    if (e.events == 0) {
        if (end.Watched)
            epoll_ctl(Epoll, EPOLL_CTL_DEL, P.Fd[S], nullptr);
        end.Watched = false;
        return;
    }
    epoll_ctl(Epoll, end.Watched ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, P.Fd[S], &e);
    end.Watched = true;
}

void Kill(Pair& P) {
    if (P.Dead)
        return;
    P.Dead = true;
    for (int fd : P.Fd)
        if (fd >= 0)
            close(fd); // which also takes it out of epoll
}

void ReadSide(Pair& P, int S, Clock::time_point Now) {
    Direction& d = P.Dir[S];
    char buffer[ReadSize];
    // A few reads per wake-up, so that sending keeps pace with reading.
    for (int reads = 0; reads < 4 && !d.ReadEnded && d.Queued < QueueLimit; ++reads) {
        ssize_t n = read(P.Fd[S], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        const Clock::time_point due = std::max(Now, d.NotBefore) + Delay;
        if (n <= 0) { // the end, or a reset: passed on as an end
            d.ReadEnded = true;
            d.Queue.push_back({due, {}, 0});
            break;
        }
        d.Queue.push_back({due, std::string(buffer, static_cast<std::size_t>(n)), 0});
        d.Queued += static_cast<std::size_t>(n);
    }
}

// Passes on what is due in direction S; false when the pair broke.
bool WriteSide(Pair& P, int S, Clock::time_point Now) {
    Direction& d = P.Dir[S];
    const int to = P.Fd[1 - S];
    d.WriteBlocked = false;
    while (!d.Queue.empty() && d.Queue.front().Due <= Now) {
        Chunk& c = d.Queue.front();
        if (c.Data.empty()) {
            shutdown(to, SHUT_WR);
            d.WriteEnded = true;
            d.Queue.pop_front();
            continue;
        }
        ssize_t n = send(to, c.Data.data() + c.Sent, c.Data.size() - c.Sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            d.WriteBlocked = true;
            break;
        }
        if (n < 0)
            return false;
        c.Sent += static_cast<std::size_t>(n);
        d.Queued -= static_cast<std::size_t>(n);
        if (c.Sent == c.Data.size())
            d.Queue.pop_front();
    }
    return true;
}

// Moves the pair on: sends what is due, updates what epoll watches, ends it
// once both directions have ended.
void Service(Pair& P, Clock::time_point Now) {
    if (P.Dead)
        return;
    for (int s = 0; s < 2; ++s)
        if (!WriteSide(P, s, Now)) {
            Kill(P);
            return;
        }
    if (P.Dir[0].WriteEnded && P.Dir[1].WriteEnded) {
        Kill(P);
        return;
    }
    for (int s = 0; s < 2; ++s)
        Watch(P, s);
}

int Listen(int Port) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(Port));
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 512) != 0) {
        std::perror("latency-proxy: listen");
        std::exit(1);
    }
    socklen_t size = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
    std::printf("%d\n", ntohs(a.sin_port));
    std::fflush(stdout);
    SetNonBlocking(s);
    return s;
}

int ConnectTarget(const addrinfo& Target) {
    int s = socket(Target.ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    // The target is near: a blocking connect is over at once.
    if (connect(s, Target.ai_addr, Target.ai_addrlen) != 0) {
        close(s);
        return -1;
    }
    return s;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: latency-proxy LISTEN_PORT TARGET_PORT DELAY_MS [TARGET_HOST]\n");
        return 2;
    }
    Delay = std::chrono::milliseconds(std::atol(argv[3]));
    const char* host = argc > 4 ? argv[4] : "127.0.0.1";
    addrinfo hints{}, *target = nullptr;
    hints.ai_socktype = SOCK_STREAM;
    if (getaddrinfo(host, argv[2], &hints, &target) != 0 || target == nullptr) {
        std::fprintf(stderr, "latency-proxy: unknown target %s:%s\n", host, argv[2]);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    Epoll = epoll_create1(EPOLL_CLOEXEC);
    const int listener = Listen(std::atoi(argv[1]));
    epoll_event le{};
    le.events = EPOLLIN;
    le.data.ptr = nullptr;
    epoll_ctl(Epoll, EPOLL_CTL_ADD, listener, &le);

    std::unordered_set<Pair*> pairs;
    std::vector<epoll_event> events(256);
    for (;;) {
        // Sleep until the next chunk is due (or something happens).
        int timeout = -1;
        const Clock::time_point now = Clock::now();
        for (Pair* p : pairs)
            for (const Direction& d : p->Dir)
                if (!d.Queue.empty() && !d.WriteBlocked) {
                    const auto wait =
                        std::chrono::ceil<std::chrono::milliseconds>(d.Queue.front().Due - now);
                    const int ms = static_cast<int>(std::max<long>(0, wait.count()));
                    timeout = timeout < 0 ? ms : std::min(timeout, ms);
                }
        const int n = epoll_wait(Epoll, events.data(), static_cast<int>(events.size()), timeout);
        if (n < 0 && errno != EINTR) {
            std::perror("latency-proxy: epoll_wait");
            return 1;
        }
        const Clock::time_point at = Clock::now();
        for (int i = 0; i < n; ++i) {
            auto* end = static_cast<Endpoint*>(events[i].data.ptr);
            if (end == nullptr) {
                for (;;) {
                    int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                    if (client < 0)
                        break;
                    int upstream = ConnectTarget(*target);
                    if (upstream < 0) {
                        close(client);
                        continue;
                    }
                    auto* p = new Pair;
                    p->Fd[0] = client;
                    p->Fd[1] = upstream;
                    // The client's connect was free; a real one costs a round trip.
                    p->Dir[0].NotBefore = at + 2 * Delay;
                    for (int s = 0; s < 2; ++s) {
                        int on = 1;
                        setsockopt(p->Fd[s], IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                        SetNonBlocking(p->Fd[s]);
                        p->Ends[s] = {p, s, false};
                        Watch(*p, s);
                    }
                    pairs.insert(p);
                }
                continue;
            }
            Pair& p = *end->Owner;
            if (p.Dead)
                continue;
            if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR))
                ReadSide(p, end->Side, at);
        }
        for (auto it = pairs.begin(); it != pairs.end();) {
            Service(**it, at);
            if ((*it)->Dead) {
                delete *it;
                it = pairs.erase(it);
            } else {
                ++it;
            }
        }
    }
}

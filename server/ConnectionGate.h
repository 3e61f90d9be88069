// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "server/RequestFraming.h"
#include "server/ServerLimits.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

// Both ends of a connection, as the pages see them (REMOTE_ADDR, LOCAL_ADDR).
struct ConnectionEnds {
    std::string remoteAddress, localAddress;
    int remotePort = 0, localPort = 0;
};

// A request read whole, for a worker to run.
struct ArrivedRequest {
    int sock = -1;
    std::string bytes; // the request, and whatever the client sent after it
    ConnectionEnds ends;
    bool waited = false; // it has already waited its turn (Outcome::deferred)
};

// Every connection of the server. The workers wait on all of them at once: the one woken by
// a client reads what it sent, without blocking, and runs the request itself once it has come
// whole (head and body), so no request waits for a hand-over to another thread. Sending what
// the client did not take at once goes the same way. A thread of the gate's own keeps the
// time limits and answers a client that is too slow. A slow, idle or half-open client thus
// costs a descriptor and a few bytes, never a worker, whatever address it comes from.
class ConnectionGate {
public:
    using Clock = std::chrono::steady_clock;

    // What became of a request a worker ran.
    struct Outcome {
        // It must wait its turn: it runs again, on the same connection, from `until` on.
        bool deferred = false;
        Clock::time_point until;
        // Otherwise it was answered: what of the answer the client has not taken yet, what it
        // sent after the request (the start of the next one), and whether the connection ends.
        std::string unsent, leftover;
        bool close = false;
    };
    using Run = std::function<Outcome(const ArrivedRequest&)>;

    ConnectionGate(const ServerLimits& limits, Run run);
    ~ConnectionGate();

    // The workers and the watch over the time limits run from start() to stop(); a server
    // that forks starts them after. stop() lets the pages running end first.
    void start();
    void stop();

    void accept(int sock);

private:
    struct Connection {
        enum class Phase { Reading, Running, Answering, Waiting, Closing };
        // Held by the one thread that handles the connection: a worker woken for it, or the
        // watch when a time limit has passed.
        std::mutex handling;
        bool gone = false; // closed; a late wake-up for it finds nothing to do
        unsigned long long id = 0;
        int sock = -1;
        Phase phase = Phase::Reading;
        ConnectionEnds ends;
        std::string in;    // what has come of the request (and after it)
        size_t length = 0; // of the request, once its head has come
        bool started = false;
        bool peerDone = false; // the client sends no more
        bool closeAfter = false;
        std::string out; // what of an answer is still to go
        size_t sent = 0;
        size_t discarded = 0;       // read away while closing
        Clock::time_point deadline; // of what the connection waits for now
        Clock::time_point bodyEnd;
        ArrivedRequest waiting; // a request deferred, until when, and whether that time has come
        Clock::time_point until;
        bool due = false;
    };

    void work();
    void watch();
    std::shared_ptr<Connection> find(unsigned long long id);
    void onReady(Connection& c, unsigned events);
    bool receive(Connection& c);
    // Reads on with what has come; runs each request that is whole.
    void read(Connection& c, bool arrived);
    // Whether a request has come whole; otherwise the connection waits for more, or has ended.
    bool progress(Connection& c, bool arrived);
    // Runs the request; true when the connection reads on at once.
    bool run(Connection& c, ArrivedRequest request);
    void sendAnswer(Connection& c);
    void afterAnswer(Connection& c);
    void sweep();
    void arm(const Connection& c, unsigned events);
    void refuse(Connection& c, int status);
    void closeGently(Connection& c);
    void discard(Connection& c);
    void drop(Connection& c);

    const ServerLimits& m_limits;
    const RequestFraming m_framing;
    Run m_run;
    int m_epoll = -1;
    int m_wake = -1; // written once, at stop: every worker sees it
    std::vector<std::thread> m_workers;
    std::thread m_watch;

    std::mutex m_mutex; // guards the fields below
    std::condition_variable m_stopped;
    bool m_stopping = false;
    unsigned long long m_nextId = 1;
    std::unordered_map<unsigned long long, std::shared_ptr<Connection>> m_connections;
    std::atomic<size_t> m_open{0};
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "server/RequestFraming.h"
#include "server/ServerLimits.h"

#include <atomic>
#include <chrono>
#include <functional>
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
    bool waited = false; // it has already waited its turn (ConnectionGate::defer)
};

// Every connection lives here except while a worker runs one of its requests. One thread
// reads what the clients send, without blocking, until a request has come whole (head and
// body), and sends what of an answer the worker could not; it answers a client that is too
// slow or sends too much itself. A slow, idle or half-open client thus costs a descriptor and
// a few bytes, never a worker, whatever address it comes from.
class ConnectionGate {
public:
    using Clock = std::chrono::steady_clock;
    using Ready = std::function<void(ArrivedRequest)>;

    ConnectionGate(const ServerLimits& limits, Ready ready);
    ~ConnectionGate();

    // The gate's thread runs from start() to stop(); a server that forks starts it after.
    void start();
    void stop();

    void accept(int sock);
    // A worker has run a request of the connection. The gate sends what the worker could not
    // of the answer; then the connection waits for its next request, of which `leftover`
    // is the start, or closes.
    void answered(int sock, std::string unsent, std::string leftover, bool close);
    // A request that may run only from `until` on waits here instead of on a worker.
    void defer(ArrivedRequest request, Clock::time_point until);

private:
    struct Connection {
        enum class Phase { Reading, Running, Answering, Waiting, Closing };
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
        ArrivedRequest waiting; // a request deferred, and until when
        Clock::time_point until;
    };
    struct Event {
        enum class Kind { Accepted, Answered, Deferred } kind;
        int sock = -1;
        std::string unsent, leftover;
        bool close = false;
        ArrivedRequest request;
        Clock::time_point until;
    };

    void post(Event event);
    void watch();
    void take(Event& event);
    void onReady(int sock, unsigned events);
    bool receive(Connection& c);
    void progress(Connection& c, bool arrived);
    void dispatch(Connection& c);
    void sendAnswer(Connection& c);
    void afterAnswer(Connection& c);
    void sweep();
    int nextWakeMs() const;
    void arm(const Connection& c, unsigned events);
    void refuse(Connection& c, int status);
    void closeGently(Connection& c);
    void discard(Connection& c);
    void drop(Connection& c);

    const ServerLimits& m_limits;
    const RequestFraming m_framing;
    Ready m_ready;
    int m_epoll = -1;
    int m_wake = -1;
    std::thread m_thread;

    std::mutex m_mutex; // guards m_events and m_stopping
    std::vector<Event> m_events;
    bool m_stopping = false;
    std::atomic<size_t> m_open{0};

    // The gate's thread alone touches these.
    std::unordered_map<int, Connection> m_connections;
    Clock::time_point m_nextSweep;
};

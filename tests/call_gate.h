// A gate for the calls a test program stands in for (a sync, a look-up):
// closed, it holds every caller that passes until it opens again, so that a
// test can keep a slow disk's call waiting for exactly as long as it needs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

struct CallGate {
    std::mutex mx;
    std::condition_variable cv;
    bool closed = false;
    int waiting = 0;

    void close() {
        std::lock_guard<std::mutex> lk(mx);
        closed = true;
    }
    void open() {
        {
            std::lock_guard<std::mutex> lk(mx);
            closed = false;
        }
        cv.notify_all();
    }
    bool isClosed() {
        std::lock_guard<std::mutex> lk(mx);
        return closed;
    }
    // Called by the held call: waits while the gate is closed.
    void pass() {
        std::unique_lock<std::mutex> lk(mx);
        ++waiting;
        cv.notify_all();
        cv.wait(lk, [this] { return !closed; });
        --waiting;
    }
    // True once a caller waits at the gate, false when none came in time.
    bool someoneWaits(std::chrono::seconds limit) { return waitersReach(1, limit); }
    // True once n callers wait at the gate together.
    bool waitersReach(int n, std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lk(mx);
        return cv.wait_for(lk, limit, [this, n] { return waiting >= n; });
    }
};

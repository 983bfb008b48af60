// A link in front of the real player link: hands every command on and
// tallies what the controller queued, per command text.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "player/PlayerLink.h"
#include "player/SerOutPort.h"

namespace morvia::test {

// Hands every command to the real link and tallies what the controller
// queued, per command text. The link drops a command silently when 49 wait;
// `possibleDrops` counts the commands queued while the store looked full (an
// upper bound: the link thread may have taken one in between).
class CountingLink : public PlayerLink {
public:
    explicit CountingLink(SerOutPort& port) : port_(port) {}
    void queue(const std::string& command) override {
        std::lock_guard g(lock_);
        if (port_.pending() >= SerOutPort::maxWaiting) ++possibleDrops_;
        ++queued_[command];
        port_.queue(command);
    }
    void setd() override {
        setdCalls_.fetch_add(1);
        port_.setd();
    }
    void start() override { port_.start(); }
    bool hasSerialPort() const override { return port_.hasSerialPort(); }
    bool waitIdle(int ms) override { return port_.waitIdle(ms); }
    bool silent() const override { return port_.silent(); }

    std::map<std::string, long> queued() const {
        std::lock_guard g(lock_);
        return queued_;
    }
    long possibleDrops() const {
        std::lock_guard g(lock_);
        return possibleDrops_;
    }
    long setdCalls() const { return setdCalls_.load(); }

private:
    SerOutPort& port_;
    mutable std::mutex lock_;
    std::map<std::string, long> queued_;
    long possibleDrops_ = 0;
    std::atomic<long> setdCalls_{0};
};

}  // namespace morvia::test

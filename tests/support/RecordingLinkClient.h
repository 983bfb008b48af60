// The recording client of the player link (LinkClient) for link tests.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "player/PlayerLink.h"

namespace morvia::test {

// A client of the player link that records what the link hands back, each
// kind in its own list, under one lock.
class RecordingLinkClient : public LinkClient {
public:
    struct TC {
        std::string reply;
        int numBytes;
    };
    void SerIn(const std::uint8_t* reply, int size) override {
        std::lock_guard g(lock_);
        serIn.emplace_back(reinterpret_cast<const char*>(reply), static_cast<std::size_t>(size));
        if (onSerIn) onSerIn();
    }
    void DoTC(const std::uint8_t* reply, int size, int numBytes) override {
        std::lock_guard g(lock_);
        tc.push_back({std::string(reinterpret_cast<const char*>(reply), static_cast<std::size_t>(size)), numBytes});
    }
    void setinfo(int title, int chapter) override {
        std::lock_guard g(lock_);
        info.emplace_back(title, chapter);
    }
    void TCIndicate(bool ok) override {
        std::lock_guard g(lock_);
        indicate.push_back(ok);
    }
    void ShowStat(const std::string& text) override {
        std::lock_guard g(lock_);
        stat.push_back(text);
    }
    struct Snapshot {
        std::vector<std::string> serIn;
        std::vector<TC> tc;
        std::vector<std::pair<int, int>> info;
        std::vector<bool> indicate;
        std::vector<std::string> stat;
    };
    Snapshot snap() {
        std::lock_guard g(lock_);
        return {serIn, tc, info, indicate, stat};
    }
    template <class F>
    auto with(F f) {
        std::lock_guard g(lock_);
        return f(*this);
    }

    std::vector<std::string> serIn;
    std::vector<TC> tc;
    std::vector<std::pair<int, int>> info;
    std::vector<bool> indicate;
    std::vector<std::string> stat;
    std::function<void()> onSerIn;

private:
    std::mutex lock_;
};

}  // namespace morvia::test

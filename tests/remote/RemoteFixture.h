// A controller over a recording link and a recording window, with the fake
// sleeper and a console capture installed: the set-up the remote-control
// tests share.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "player/LocalVCR.h"
#include "startup/Quenta.h"
#include "support/Eventually.h"
#include "support/TestSupport.h"

namespace morvia::test {

class RemoteFixture : public ::testing::Test {
protected:
    void SetUp() override {
        Quenta::setrepeatval(2);
        rec->clear();
    }
    void TearDown() override { Quenta::setrepeatval(2); }

    std::vector<std::string> queued() const { return rec->only("Q:"); }
    std::vector<std::string> waits() const { return rec->only("W:"); }
    std::vector<std::string> statuses() const { return rec->only("S:"); }

    static bool contains(const std::vector<std::string>& v, const std::string& s) {
        for (const auto& e : v)
            if (e == s) return true;
        return false;
    }

    std::shared_ptr<Recorder> rec = std::make_shared<Recorder>();
    ScopedFakeSleeper sleeper{rec};
    ConsoleCapture console;
    RecordingLink link{rec};
    RecordingDisplay display{rec};
    LocalVCR vcr{&link, display, 2001};
};

}  // namespace morvia::test

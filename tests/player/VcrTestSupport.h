// Shared set-up for the controller tests: a controller over a recording link
// and display, the fake sleeper, a console capture and the settings it reads
// saved and restored around each test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "player/LocalVCR.h"
#include "startup/Quenta.h"
#include "support/SettingsGuard.h"
#include "support/TestSupport.h"

namespace morvia::test {

// Entries of the journal whose prefix is one of `prefixes`, in order.
inline Journal pick(const Recorder& rec, std::initializer_list<std::string_view> prefixes) {
    Journal out;
    for (const auto& e : rec.events()) {
        for (auto p : prefixes) {
            if (e.rfind(p, 0) == 0) {
                out.push_back(e);
                break;
            }
        }
    }
    return out;
}

// n copies of one entry (for runs of identical commands).
inline Journal times(int n, const std::string& entry) { return Journal(static_cast<std::size_t>(n), entry); }

inline Journal cat(std::initializer_list<Journal> parts) {
    Journal out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

class VcrTest : public ::testing::Test {
protected:
    std::shared_ptr<Recorder> rec = std::make_shared<Recorder>();
    SettingsGuard settings;
    ScopedFakeSleeper sleeper{rec};
    ConsoleCapture console;
    RecordingLink link{rec};
    RecordingDisplay display{rec};
    std::unique_ptr<LocalVCR> vcr;

    // Builds the controller (after the test has set the settings it wants)
    // and forgets whatever happened so far.
    LocalVCR& make(PlayerLink* l = nullptr) {
        vcr = std::make_unique<LocalVCR>(l ? l : &link, display, 2001);
        rec->clear();
        return *vcr;
    }
    // Queued commands only, without the "Q:" prefix.
    std::vector<std::string> queued() const { return rec->only("Q:"); }
    // Queued commands and waits.
    Journal wire() const { return pick(*rec, {"Q:", "W:"}); }

    void TearDown() override { vcr.reset(); }
};

}  // namespace morvia::test

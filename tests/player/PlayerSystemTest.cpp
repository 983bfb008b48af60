// Building the controller on its link and taking it down: what goes where,
// a port that does not open, and a teardown while polling and the link run.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "dvdsim/Simulator.h"
#include "player/LocalVCR.h"
#include "player/PlayerSystem.h"
#include "player/SerOutPort.h"
#include "player/VcrTestSupport.h"
#include "support/Eventually.h"
#include "startup/Quenta.h"
#include "support/TestSupport.h"

namespace morvia::test {
namespace {

bool contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

// Counts what the controller queues and hands it on to the real link.
class ForwardingLink : public PlayerLink {
public:
    explicit ForwardingLink(SerOutPort& port) : port_(port) {}
    void queue(const std::string& command) override {
        queued.fetch_add(1);
        port_.queue(command);
    }
    void setd() override { port_.setd(); }
    void start() override { port_.start(); }
    bool hasSerialPort() const override { return port_.hasSerialPort(); }
    std::atomic<int> queued{0};

private:
    SerOutPort& port_;
};

TEST(PlayerSystem, APortThatDoesNotOpenStillGivesAController) {
    ConsoleCapture console;  // the port object reports the failed open
    RecordingDisplay display(std::make_shared<Recorder>());
    PlayerSystem system;
    EXPECT_FALSE(system.build("/dev/morvia-no-such-port", display));
    ASSERT_NE(system.port(), nullptr);
    EXPECT_TRUE(system.port()->bad);
    EXPECT_EQ(system.port()->getwait(), PlayerSystem::kCycleWaitMs);
    ASSERT_NE(system.controller(), nullptr);
    system.stop();
    EXPECT_EQ(system.port(), nullptr);
    EXPECT_EQ(system.controller(), nullptr);
    system.stop();  // a second stop finds nothing to do
}

TEST(PlayerSystem, CommandsGoThroughTheFrontLinkAndRepliesReachTheController) {
    SettingsGuard settings;
    ConsoleCapture console;
    settings.set(&Settings::OSString, "00:00:00:00");
    dvdsim::Options options;
    options.spinupMs = 300;
    dvdsim::Simulator sim(options);
    sim.start();
    RecordingDisplay display(std::make_shared<Recorder>());
    {
        PlayerSystem system;
        ASSERT_TRUE(system.openPort(sim.slavePath()));
        system.setwait(PlayerSystem::kCycleWaitMs);
        ForwardingLink front(*system.port());
        LocalVCR& vcr = system.buildController(display, 0, &front);
        system.startLink();  // through the front link
        vcr.CommandB0(LocalVCR::bsstart);
        ASSERT_TRUE(eventually([&] { return sim.mode() == dvdsim::Mode::Pause; }, std::chrono::seconds(20)));
        EXPECT_GE(front.queued.load(), 1);
        // Polling: the link's frame replies come back to this controller.
        vcr.GetTC();
        vcr.play();
        ASSERT_TRUE(eventually([&] { return contains(sim.commandTexts(), "?F\r"); }, std::chrono::seconds(20)));
        EXPECT_TRUE(eventually([&] { return vcr.getTCString() != "00:00:00:00"; }, std::chrono::seconds(20)))
            << vcr.getTCString();
        // Taken down while polling and the link thread run, before `front`
        // goes: nothing calls into a part that is gone (the sanitizer builds
        // check that).
        system.stop();
        EXPECT_EQ(system.controller(), nullptr);
        EXPECT_EQ(system.port(), nullptr);
    }
    sim.stop();
}

}  // namespace
}  // namespace morvia::test

// Four callers drive one controller at once over the real link against the
// player simulator: the window, a script, a network client and the logger
// window with the edit controller. Bounded in rounds and in time. Nothing may
// crash or hang, every command on the simulator's line must be whole and carry
// the digits its caller asked for, and the link must still poll afterwards.
// Under ThreadSanitizer this must stay silent.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <regex>
#include <thread>
#include <vector>

#include "dvdsim/Simulator.h"
#include "player/LocalVCR.h"
#include "player/PlayerSystem.h"
#include "player/SerOutPort.h"
#include "player/TCThread.h"
#include "player/VcrTestSupport.h"
#include "startup/Require.h"
#include "support/Eventually.h"

namespace morvia::test {
namespace {

using namespace std::chrono_literals;

long countOf(const std::vector<std::string>& sent, const std::string& command) {
    return static_cast<long>(std::count(sent.begin(), sent.end(), command));
}

TEST(ControllerStress, FourCallersAtOnceKeepEveryCommandWholeAndTheLinkPolling) {
    SettingsGuard settings;
    ConsoleCapture console;
    auto waits = std::make_shared<Recorder>();
    ScopedFakeSleeper sleeper(waits);  // the controller's own waits return at once
    settings.set(&Settings::OSString, "00:00:00:00");
    settings.set(&Settings::useclipboard, false);
    settings.set(&Settings::mcs, false);
    Quenta::setrepeatval(1);

    dvdsim::Options options;
    options.spinupMs = 300;
    options.searchMs = 50;
    dvdsim::Simulator sim(options);
    sim.start();
    FieldsDisplay display({{Field::cuefield, "00:00:01:00"}, {Field::endfield, "00:00:02:00"}});
    PlayerSystem live;  // torn down before the display and the simulator
    ASSERT_TRUE(live.build(sim.slavePath(), display));
    LocalVCR& vcr = *live.controller();
    SerOutPort& port = *live.port();
    LocalVCR::StartHooks hooks;
    hooks.makeLogger = [] { return std::make_shared<FakeLogger>(); };
    vcr.setStartHooks(hooks);

    port.start();
    vcr.CommandB0(LocalVCR::bsstart);
    ASSERT_TRUE(eventually([&] { return sim.mode() == dvdsim::Mode::Pause; }, 10s));
    vcr.GetTC();
    ASSERT_NE(vcr.gettcthread(), nullptr);

    constexpr int kRounds = 40;
    constexpr auto kTimeLimit = 4s;  // a round that starts later is skipped
    const auto begin = std::chrono::steady_clock::now();
    std::atomic<bool> go{false};
    std::vector<std::future<void>> callers;
    auto spawn = [&](auto body) {
        callers.push_back(std::async(std::launch::async, [&go, &port, begin, kTimeLimit, body] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < kRounds && std::chrono::steady_clock::now() - begin < kTimeLimit; ++i) {
                // Keep pace with the line, so that most commands reach it
                // rather than overflow the link's store.
                eventually([&] { return port.pending() < SerOutPort::maxWaiting / 2; }, 2s);
                body(i);
            }
        }));
    };
    spawn([&](int i) {  // the window
        vcr.play();
        vcr.shutfwd(11 + i % 50);
        vcr.shutrev(i % 2 ? 30 : 5);
        vcr.sbyonoff();
        vcr.jogf();
        vcr.forward();
        vcr.stopvcr();
        if (i % 4 == 0) vcr.review();
    });
    spawn([&](int i) {  // a script
        vcr.cuein();
        vcr.setdirectin();
        vcr.slowhalf();
        if (i % 3 == 0) vcr.cueout();
        if (i % 5 == 0) vcr.repeat();
        vcr.allstop();
    });
    auto client = std::make_shared<RecordingClient>();
    spawn([&](int i) {  // a network client
        vcr.setconnectthread(i % 4 ? client : nullptr);
        if (i % 4 == 1) {
            vcr.setcurtitle(1 + i % 3);
            vcr.settitle();
        }
        if (i % 4 == 3) {
            vcr.setcurchapter(1 + i % 12);
            vcr.setchapter();
        }
        vcr.reporttc();
        vcr.reportti();
        vcr.reportstatus();
        vcr.status();
    });
    spawn([&](int i) {  // the logger window and the edit controller
        vcr.CommandBLogger();
        if (auto logger = vcr.getloggergui()) logger->setin();
        if (i % 2) vcr.loggerClosing();
        vcr.setdirectout();
        vcr.cueplay();
        vcr.setstoprepeat();
        (void)vcr.lastReply();
        (void)vcr.getStatusString();
        (void)vcr.templates().get(CommandTemplates::Id::playtofr);
    });
    go.store(true);
    for (auto& c : callers) {
        require(c.wait_for(60s) == std::future_status::ready, "ControllerStress",
                "a caller did not finish within 60 s: the controller deadlocked");
    }
    for (auto& c : callers) c.get();  // rethrows what a caller threw

    // The link goes on polling once the storm has passed.
    ASSERT_TRUE(port.waitIdle(10000));
    const long polls = countOf(sim.commandTexts(), "?F\r");
    EXPECT_FALSE(vcr.gettcthread()->ispaused());
    EXPECT_TRUE(eventually([&] { return countOf(sim.commandTexts(), "?F\r") > polls + 5; }, 10s));
    EXPECT_TRUE(vcr.gettcthread()->isrunning());

    live.stop();
    sim.stop();
    const std::regex whole(
        "(\r|SA\r|PL\r|ST\r|PA\r|NF\r|NR\r|SF\r|NS\r|\\?A\r|\\?F\r|[0-9]{2}SPMF\r|TI0[1-3]SEPL\r|"
        "CH(0[1-9]|1[0-2])SEPL\r|FR00000(30|60)(SE|SM|SMPL)\r)");
    const auto sent = sim.commandTexts();
    EXPECT_GE(sent.size(), 60u) << "the storm hardly reached the line";
    for (const auto& c : sent) EXPECT_TRUE(std::regex_match(c, whole)) << dvdsim::readable(c);
    // Every script round queues nine in-point searches: some of them reach the player.
    EXPECT_GT(countOf(sent, "FR0000030SE\r"), 0);
}

}  // namespace
}  // namespace morvia::test

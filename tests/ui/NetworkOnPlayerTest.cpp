// The control server on the whole App (window, controller, real link)
// against the player simulator: the window's Stop and close reach what a
// network client started.
#include <gtest/gtest.h>

#if __has_include("dvdsim/Simulator.h")

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "UiSupport.h"
#include "faults/LiveRig.h"
#include "remote/ListenAddress.h"
#include "support/TcpClient.h"
#include "ui/App.h"

namespace morvia::test {
namespace {

long countOf(const std::vector<std::string>& v, const std::string& s) { return std::count(v.begin(), v.end(), s); }

TEST(NetworkOnPlayer, TheWindowsStopAndCloseEndANetworkRepeat) {
    SettingsGuard restore;
    // The control server's port is held by someone else at first.
    std::optional<ServerSocket> held(listenOn({ListenAddress::loopback, 0}));
    const std::string heldPort = std::to_string(held->port());
    Settings settings;
    settings.OSString = "00:00:00:00";
    settings.useclipboard = false;
    settings.ControlServer = heldPort;
    ConsoleCapture console;
    ScopedExitThrows noExit;
    dvdsim::Simulator sim(faults::fastPlayer());
    sim.start();
    App app(settings);
    LocalGUI& gui = *app.window();
    app.openPort(sim.slavePath());
    LocalVCR* vcr = &app.buildController();
    gui.show();
    app.startLink();
    vcr->CommandB0(LocalVCR::bsstart);
    ASSERT_TRUE(faults::eventually([&] { return sim.mode() == dvdsim::Mode::Pause; }, std::chrono::seconds(20)));
    // A port someone else holds: one console line, the status text, no
    // server; the program goes on.
    {
        app.startNetwork();
        EXPECT_EQ(app.controlServerPort(), 0);
        EXPECT_EQ(gui.gettext(Field::statusfield), "Can't Get ServerSocket at Port " + heldPort);
        const auto lines = console.lines();
        EXPECT_NE(std::find(lines.begin(), lines.end(),
                            "Setting ControlServer: bind 127.0.0.1:" + heldPort + ": Address already in use; it stays off"),
                  lines.end());
    }
    // Once the port is free, the server opens on it.
    held.reset();
    app.startNetwork();
    const int port = app.controlServerPort();
    ASSERT_EQ(std::to_string(port), heldPort);

    TcpClient client(port);
    ASSERT_EQ(client.readLine(), "OK\r\n");
    auto playing = [&](long plays) {
        return faults::eventually([&] { return countOf(sim.commandTexts(), "PL\r") >= plays; },
                                  std::chrono::seconds(30));
    };

    // A long network repeat; the operator clicks Stop while its first pass
    // plays. The pass ends there, the Stop's own command is the last the
    // player gets, and the connection goes on with its next line.
    sim.clearLog();
    client.send("TC100:00:01:00\nTC200:00:30:00\nRNum1000\nRepeat\nGetTi\n");
    ASSERT_TRUE(playing(1));
    gui.press("Stop");
    EXPECT_EQ(client.readLine(), "1\r\n") << "the repeat ended and the client is served again";
    app.actions().drain();
    // Once the link has written what waits, the line keeps its order: when a
    // query queued now has reached the player, so has everything before it.
    ASSERT_TRUE(app.port()->waitIdle(20000));
    app.port()->queue(LocalVCR::bsstatus);
    ASSERT_TRUE(faults::eventually([&] { return countOf(sim.commandTexts(), LocalVCR::bsstatus) > 0; },
                                   std::chrono::seconds(20)));
    auto got = sim.commandTexts();
    got.erase(std::find(got.begin(), got.end(), LocalVCR::bsstatus), got.end());
    EXPECT_EQ(countOf(got, "PL\r"), 1) << "one pass only";
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), "PA\r") << "nothing of the pass follows the Stop: " << ::testing::PrintToString(got);

    // Another repeat; the operator closes the window while it plays. The
    // connection and the listener end, and after the close request only
    // the two stops reach the player.
    sim.clearLog();
    client.send("Repeat\n");
    ASSERT_TRUE(playing(1));
    const std::size_t atClose = sim.commandTexts().size();
    gui.close();
    EXPECT_TRUE(client.closedByServer());
    EXPECT_TRUE(faults::eventually([&] { return countOf(sim.commandTexts(), "PA\r") >= 2; }, std::chrono::seconds(20)));
    app.actions().drain();
    got = sim.commandTexts();
    ASSERT_GE(got.size(), atClose + 2);
    // One command may have been on its way to the line at the request.
    EXPECT_LE(got.size(), atClose + 3) << "only the two stops after the close";
    EXPECT_EQ(std::vector<std::string>(got.end() - 2, got.end()), (std::vector<std::string>{"PA\r", "PA\r"}));
    EXPECT_EQ(app.controlServerPort(), 0) << "the listener is gone";
    EXPECT_FALSE(TcpClient(port).connected());
    app.stop();
    sim.stop();
}

}  // namespace
}  // namespace morvia::test

#else

TEST(NetworkOnPlayer, NeedsThePlayerSimulator) {
    GTEST_SKIP() << "the player simulator library is not built in this configuration";
}

#endif

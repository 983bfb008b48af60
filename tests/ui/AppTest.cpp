// The App: what it builds, how a click reaches the controller it built, and
// the order it takes the program down in.
#include <QLabel>

#include <gtest/gtest.h>

#include "UiSupport.h"
#include "player/SerOutPort.h"
#include "support/SettingsGuard.h"
#include "support/TestSupport.h"
#include "ui/App.h"

namespace morvia::test {
namespace {

TEST(App, BuildsTheProgramOnItsWindowAndTakesItDownInOrder) {
    qtApp();
    SettingsGuard settings;
    ConsoleCapture console;  // the port object reports the failed open
    Quenta::name = "Morvia";
    Settings value;
    value.note = "AppTest";
    App app(value);
    LocalGUI* gui = app.window();
    ASSERT_NE(gui, nullptr);
    EXPECT_FALSE(app.openPort("/dev/morvia-no-such-port"));
    ASSERT_NE(app.port(), nullptr);
    EXPECT_EQ(app.port()->getwait(), PlayerSystem::kCycleWaitMs);

    LocalVCR& vcr = app.buildController();
    EXPECT_EQ(gui->controller(), &vcr);
    gui->applyPending();
    EXPECT_EQ(qobject_cast<QLabel*>(gui->component(QStringLiteral("vcrlabel")))->text(), "DVD Controls AppTest");
    EXPECT_EQ(gui->windowTitle(), "Morvia");

    // A click runs on the App's action thread against its controller.
    gui->press("Pause");
    app.actions().drain();
    EXPECT_EQ(gui->gettext(Field::statusfield), "Pause");
    EXPECT_EQ(vcr.getStatus(), 0);

    // The action thread first, then the controller is gone from the window
    // before the player system goes.
    app.stop();
    EXPECT_FALSE(app.actions().post([] {}));  // the action thread takes no more jobs
    EXPECT_EQ(gui->controller(), nullptr);
    EXPECT_EQ(app.controller(), nullptr);
}

TEST(App, WithADisplayOfItsOwnBuildsNoWindow) {
    SettingsGuard settings;
    ConsoleCapture console;
    auto rec = std::make_shared<Recorder>();
    RecordingDisplay display(rec);
    App app(Settings(), &display);
    EXPECT_EQ(app.window(), nullptr);
    app.openPort("/dev/morvia-no-such-port");
    LocalVCR& vcr = app.buildController();
    vcr.ShowStat("Hello");
    EXPECT_EQ(rec->only("S:"), std::vector<std::string>{"Hello"});
    app.showWindow();  // nothing to show
    app.stop();
    EXPECT_EQ(app.controller(), nullptr);
}

}  // namespace
}  // namespace morvia::test

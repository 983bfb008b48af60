// The main window's listeners on a real controller over a recording link,
// with the fake sleeper: the fixture of the action and keyboard tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <string>

#include "UiSupport.h"
#include "player/LocalVCR.h"
#include "player/VcrTestSupport.h"
#include "support/TestSupport.h"

namespace morvia::test {

class Actions : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        rec = std::make_shared<Recorder>();
        sleeper = std::make_unique<ScopedFakeSleeper>(rec);
        link = std::make_unique<RecordingLink>(rec);
        vcr = std::make_unique<LocalVCR>(link.get(), *gui, 2001);
        gui->setController(vcr.get());
        gui->observeTexts([this](Field f, const std::string& t) {
            if (f == Field::statusfield) rec->add("S:" + t);
        });
        actions->setErrorHandler([this](std::exception_ptr e) {
            try {
                std::rethrow_exception(e);
            } catch (const ExitCalled& x) {
                rec->add("EXIT:" + std::to_string(x.status));
            } catch (const std::exception& x) {
                rec->add(std::string("ERROR:") + x.what());
            }
        });
    }
    void TearDown() override {
        actions->drain();
        gui->observeTexts(nullptr);
        gui->setController(nullptr);
        vcr.reset();
        WindowFixture::TearDown();
    }
    // Presses the button with this action command and waits for its action.
    void press(const std::string& command) {
        gui->press(command);
        settle();
    }
    // The logger button opens stand-ins that only count themselves.
    void useFakeLoggers() {
        LocalVCR::StartHooks hooks;
        hooks.makeLogger = [this]() -> std::shared_ptr<LoggerSeam> {
            ++loggersMade_;
            return std::make_shared<FakeLogger>();
        };
        vcr->setStartHooks(hooks);
    }
    // Touched by the action thread only while it runs a job; read between jobs.
    int loggersMade() const { return loggersMade_; }
    Journal queued() const { return rec->only("Q:"); }
    Journal statuses() const { return rec->only("S:"); }

    SettingsGuard settings;
    ConsoleCapture console;
    std::shared_ptr<Recorder> rec;
    std::unique_ptr<ScopedFakeSleeper> sleeper;
    std::unique_ptr<RecordingLink> link;
    std::unique_ptr<LocalVCR> vcr;

private:
    int loggersMade_ = 0;
};

inline bool contains(const Journal& j, const std::string& e) { return std::find(j.begin(), j.end(), e) != j.end(); }

}  // namespace morvia::test

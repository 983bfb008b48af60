#include <deque>

#include "player/TCThread.h"
#include "player/VcrTestSupport.h"

namespace morvia::test {
namespace {

// A player link that answers like the real one: a command's reply reaches the
// controller's last reply while the caller waits (replies are delivered at
// the next DelayT), so a check right after a query sees an earlier reply.
class ScriptedLink : public PlayerLink {
public:
    ScriptedLink(std::shared_ptr<Recorder> r, std::deque<std::string> modeReplies)
        : rec_(std::move(r)), modes_(std::move(modeReplies)) {}
    void attach(LinkClient* c) { client_ = c; }

    void queue(const std::string& command) override {
        rec_->add("Q:" + command);
        std::lock_guard g(lock_);
        if (command == "?P\r") {
            if (!modes_.empty()) {
                pending_.push_back(modes_.front());
                modes_.pop_front();
            }
        } else {
            pending_.push_back("R\r");
        }
    }
    void setd() override {}
    void start() override { rec_->add("START"); }
    bool hasSerialPort() const override { return false; }
    bool waitIdle(int ms) override {
        rec_->add("IDLE:" + std::to_string(ms));
        return true;
    }
    // Delivers the replies that have arrived.
    void deliver() {
        std::deque<std::string> now;
        {
            std::lock_guard g(lock_);
            now.swap(pending_);
        }
        for (const auto& r : now) {
            std::uint8_t buf[16] = {};
            std::copy_n(r.begin(), std::min<std::size_t>(r.size(), 16), buf);
            if (client_) client_->SerIn(buf, 16);
        }
    }

private:
    std::shared_ptr<Recorder> rec_;
    std::mutex lock_;
    std::deque<std::string> modes_;
    std::deque<std::string> pending_;
    LinkClient* client_ = nullptr;
};

class ReplySleeper : public DelayClock {
public:
    ReplySleeper(std::shared_ptr<Recorder> r, ScriptedLink& l) : rec_(std::move(r)), link_(l) {}

protected:
    void delayed(int ms) override {
        rec_->add("W:" + std::to_string(ms));
        link_.deliver();
    }

private:
    std::shared_ptr<Recorder> rec_;
    ScriptedLink& link_;
};

class EditPort : public EditPortSeam {
public:
    explicit EditPort(std::shared_ptr<Recorder> r, bool ok) : rec_(std::move(r)), ok_(ok) {}
    bool opened() const override { return ok_; }
    void setlocalvcr(LocalVCR*) override { rec_->add("EP:vcr"); }
    void setlocalgui(Display*) override { rec_->add("EP:gui"); }
    void setwait(int ms) override { rec_->add("EP:wait" + std::to_string(ms)); }
    void setsleeptime(int ms) override { rec_->add("EP:sleep" + std::to_string(ms)); }
    void start() override { rec_->add("EP:start"); }
    void stopme() override { rec_->add("EP:stop"); }

private:
    std::shared_ptr<Recorder> rec_;
    bool ok_;
};

class StartupTest : public VcrTest {
protected:
    std::unique_ptr<ScriptedLink> player;

    LocalVCR& build(std::deque<std::string> modes) {
        player = std::make_unique<ScriptedLink>(rec, std::move(modes));
        auto& v = make(player.get());
        player->attach(&v);
        Utils::setClock(std::make_shared<ReplySleeper>(rec, *player));
        return v;
    }
};

TEST_F(StartupTest, PlayerInAUsableModeStartsTitleAndPlay) {
    settings.set(&Settings::starttitle, 12);
    settings.set(&Settings::startingtitle, "12");
    settings.set(&Settings::comport1, "/dev/pts/7");
    auto& v = build({"P04\r", "P04\r"});
    v.startup();

    const Journal expected = {
        "LOG:0",
        "CONN:0",
        "START",
        "S:Starting Disc",
        "Q:SA\r",
        "W:5000",
        // The first check sees the reply to "SA"; the second the first mode reply.
        "Q:?P\r",
        "S:Checking DVD Status 1",
        "W:3000",
        "Q:?P\r",
        "S:Checking DVD Status 2",
        "S:Status OK",
        "Q:ST\r",
        "W:1000",
        "S:Starting at Title 12",
        "Q:\r",
        "Q:NS\r",
        "Q:ST\r",
        "Q:TI12SEPL\r",
        "F:chapterfield=1",
        "F:titlefield=12",
        "W:6000",
        "F:cuefield=00:00:00:01",
        "BG:endfield=background",
        "S:EDIT POINTS OK",
        "IO:11",
        "Q:PL\r",
        "LOG:1",
    };
    EXPECT_EQ(rec->events(), expected);
    EXPECT_EQ(console.lines(), (std::vector<std::string>{"Starting Disc", "Checking DVD Status 1  520D0000",
                                                         "Checking DVD Status 2  5030340D", "Starting at Title 12",
                                                         "DVD-V7400 On /dev/pts/7 Ready", " "}));
    EXPECT_EQ(v.getcurtitle(), 12);
    EXPECT_EQ(v.getcurchapter(), 1);
    EXPECT_EQ(v.getStatus(), 1);
    EXPECT_TRUE(v.getinok());
    EXPECT_TRUE(v.getoutok());
}

TEST_F(StartupTest, ModesFiveAndSixPassAndOtherRepliesDoNot) {
    for (const char* mode : {"P05\r", "P06\r"}) {
        auto& v = build({mode});
        v.startup();
        EXPECT_EQ(rec->only("S:").at(3), "Status OK") << mode;
    }
    for (const char* mode : {"P01\r", "P03\r", "E04\r", "p04\r"}) {
        ScopedExitThrows exits;
        auto& v = build({mode, mode, mode, mode, mode});
        EXPECT_THROW(v.startup(), ExitCalled) << mode;
    }
}

TEST_F(StartupTest, NoUsableModeAfterFiveChecksEndsTheProcess) {
    ScopedExitThrows exits;
    auto& v = build({"P01\r", "P01\r", "P01\r", "P01\r", "P01\r"});
    try {
        v.startup();
        FAIL() << "start-up went on";
    } catch (const ExitCalled& e) {
        EXPECT_EQ(e.status, 0);
    }
    Journal checks;
    for (int i = 1; i <= 5; ++i) {
        checks.push_back("Q:?P\r");
        checks.push_back("S:Checking DVD Status " + std::to_string(i));
        checks.push_back("W:3000");
    }
    const Journal expected =
        cat({{"S:Starting Disc", "Q:SA\r", "W:5000"}, checks, {"S:Please Turn Unit ON", "W:5000"}});
    EXPECT_EQ(pick(*rec, {"Q:", "W:", "S:"}), expected);
    EXPECT_EQ(console.lines().back(), "Please Turn Unit ON");
    EXPECT_EQ(console.lines().at(5), "Checking DVD Status 5  5030310D");
}

TEST_F(StartupTest, EditControllerPortAndABadOffsetAreReportedAndStartUpGoesOn) {
    settings.set(&Settings::mcs, true);
    settings.set(&Settings::comport2, "COM9");
    settings.set(&Settings::OSString, "bad");
    auto& v = build({"P04\r", "P04\r"});
    LocalVCR::StartHooks hooks;
    hooks.makeEditPort = [&](const std::string& port) {
        rec->add("EP:make " + port);
        return std::make_unique<EditPort>(rec, false);
    };
    v.startup(hooks);
    EXPECT_EQ(pick(*rec, {"EP:", "S:Serial", "S:TCOffset"}),
              (Journal{"EP:make COM9", "S:Serial Port COM9 Unavailable", "S:TCOffset Not Valid", "EP:start"}));
    EXPECT_EQ(v.getoffsetframes(), 0);
    EXPECT_EQ(rec->only("Q:").back(), "PL\r");
    EXPECT_EQ(v.getcomport2(), "COM9");

    rec->clear();
    settings.set(&Settings::OSString, "00:00:00:00");
    auto& w = build({"P04\r", "P04\r"});
    hooks.makeEditPort = [&](const std::string&) { return std::make_unique<EditPort>(rec, true); };
    w.startup(hooks);
    EXPECT_EQ(pick(*rec, {"EP:", "S:Serial"}),
              (Journal{"S:Serial Port COM9 Opened OK", "EP:vcr", "EP:gui", "EP:wait50", "EP:sleep50", "EP:start"}));
    EXPECT_NE(w.getsip(), nullptr);
    rec->clear();
    vcr.reset();
    EXPECT_EQ(rec->events(), Journal{"EP:stop"});
}

TEST_F(StartupTest, StartTitleBeyondTheTwoDigitsFallsBackToTitleOne) {
    settings.set(&Settings::starttitle, 150);
    settings.set(&Settings::startingtitle, "150");
    auto& v = build({"P04\r", "P04\r"});
    v.startup();
    const auto q = rec->only("Q:");
    EXPECT_NE(std::find(q.begin(), q.end(), "TI01SEPL\r"), q.end());
    EXPECT_EQ(v.getcurtitle(), 1);
}

TEST_F(StartupTest, LoggerWindowOpensOnceAndClosingEnablesTheButton) {
    auto& v = build({"P04\r", "P04\r"});
    int made = 0;
    LocalVCR::StartHooks hooks;
    hooks.makeLogger = [&] {
        ++made;
        return std::make_shared<FakeLogger>();
    };
    v.setStartHooks(hooks);
    rec->clear();
    v.CommandBLogger();
    v.CommandBLogger();  // one window at a time
    EXPECT_EQ(made, 1);
    EXPECT_NE(v.getloggergui(), nullptr);
    v.loggerClosing();
    EXPECT_EQ(v.getloggergui(), nullptr);
    EXPECT_EQ(rec->events(), (Journal{"LOG:0", "LOG:1"}));
    v.CommandBLogger();
    EXPECT_EQ(made, 2);
}

}  // namespace
}  // namespace morvia::test

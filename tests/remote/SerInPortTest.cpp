#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>

#include "remote/RemoteFixture.h"
#include "remote/SerInPort.h"
#include "remote/Socket.h"
#include "support/MemoryLine.h"

using namespace morvia;
using namespace morvia::test;

namespace {

using B = std::vector<std::uint8_t>;

// The edit controller's end of a pseudo-terminal; the port under test opens
// the other end.
class EditPort : public RemoteFixture {
protected:
    void SetUp() override {
        RemoteFixture::SetUp();
        master_.reset(::posix_openpt(O_RDWR | O_NOCTTY));
        ASSERT_TRUE(master_);
        ASSERT_EQ(::grantpt(master_.get()), 0);
        ASSERT_EQ(::unlockpt(master_.get()), 0);
        char name[128];
        ASSERT_EQ(::ptsname_r(master_.get(), name, sizeof name), 0);
        slaveName_ = name;
        port_ = std::make_unique<SerInPort>(slaveName_, true);
        ASSERT_TRUE(port_->opened());
        // A second descriptor on the line, only to count waiting bytes.
        counter_.reset(::open(name, O_RDONLY | O_NOCTTY | O_NONBLOCK));
        ASSERT_TRUE(counter_);
        port_->setlocalvcr(&vcr);
        port_->setlocalgui(&display);
        port_->setwait(50);
        port_->setsleeptime(5);
    }
    void TearDown() override {
        if (port_) port_->setsleeptime(50);  // class-wide: put it back
        port_.reset();
        RemoteFixture::TearDown();
    }

    void send(const B& bytes) {
        ASSERT_EQ(::write(master_.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    int waiting() const {
        int n = 0;
        ::ioctl(counter_.get(), FIONREAD, &n);
        return n;
    }
    // Waits until the port's side of the line holds `n` bytes.
    bool arrived(int n) {
        return eventually([&] { return waiting() >= n; });
    }
    void openLogger() {
        LocalVCR::StartHooks hooks;
        hooks.makeLogger = [r = rec] { return std::make_shared<FakeLogger>(r); };
        vcr.setStartHooks(hooks);
        vcr.CommandBLogger();
        ASSERT_TRUE(vcr.getloggergui());
    }

    UniqueFd master_;
    UniqueFd counter_;
    std::string slaveName_;
    std::unique_ptr<SerInPort> port_;
};

TEST_F(EditPort, LineSettings) {
    const SerialConfig& c = port_->config();
    EXPECT_EQ(c.getPortName(), slaveName_);
    EXPECT_EQ(c.getBitRate(), SerialConfig::BR_2400);
    EXPECT_EQ(c.getDataBits(), SerialConfig::LN_8BITS);
    EXPECT_EQ(c.getStopBits(), SerialConfig::ST_1BITS);
    EXPECT_EQ(c.getParity(), SerialConfig::PY_NONE);
    EXPECT_EQ(c.getHandshake(), SerialConfig::HS_NONE);
    EXPECT_FALSE(c.getHardFlow());
    EXPECT_EQ(c.getTxLen(), 2048);
    EXPECT_EQ(c.getRxLen(), 16384);
    EXPECT_EQ(port_->getwait(), 50);
    EXPECT_EQ(SerInPort::getsleeptime(), 5);
}

TEST_F(EditPort, TransportAndJogMessagesDriveTheController) {
    port_->start();
    EXPECT_TRUE(eventually([&] { return contains(console.lines(), "B= 3"); }));
    send({0x80, 0x45, 0x00, 0x80, 0x44, 0x7F, 0x80, 0x46, 0xFF, 0x80, 0x42, 0x00, 0x80, 0x43, 0x00});
    const std::vector<std::string> transport = {"PL\r", "ST\r", "PA\r", "NR\r", "NF\r"};
    EXPECT_TRUE(eventually([&] { return queued().size() >= 5; }));
    EXPECT_EQ(queued(), transport);

    rec->clear();
    // Header 0x81 announces one data byte (a jog amount, not interpreted).
    send({0x81, 0x50, 0x00, 0x01, 0x81, 0x40, 0x00, 0x01, 0x81, 0x90, 0x00, 0x01, 0x81, 0x41, 0x00, 0x01});
    send({0x81, 0xFF, 0x00});  // alone on the line, its data byte never comes
    EXPECT_TRUE(eventually([&] { return queued().size() >= 5; }));
    EXPECT_EQ(queued(), (std::vector<std::string>{"SF\r", "SR\r", "SR\r", "SF\r", "SR\r"}));
    std::vector<std::string> jogs;
    for (const auto& l : console.lines())
        if (l.rfind("Jog", 0) == 0) jogs.push_back(l);
    EXPECT_EQ(jogs, (std::vector<std::string>{"JogF", "JogR", "JogR", "JogF", "JogR"}));
    port_->stopme();
}

TEST_F(EditPort, AStopCutsTheSleepBetweenPollsShortAndAStoppedPortStaysStopped) {
    port_->setsleeptime(10 * 60 * 1000);  // only a stop ends this sleep in time
    port_->start();
    ASSERT_TRUE(eventually([&] { return contains(console.lines(), "B= 3"); }));
    const auto before = std::chrono::steady_clock::now();
    port_->stopme();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::minutes(1)) << "the stop waited for the sleep";
    port_->start();  // a stopped port does not poll again
    port_->stopme();
    const auto lines = console.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "B= 3"), 1);
}

TEST_F(EditPort, MarksReachOnlyAnOpenLogger) {
    port_->start();
    send({0x80, 0x40, 0x00, 0x80, 0x41, 0x00, 0x80, 0x45, 0x00});
    EXPECT_TRUE(eventually([&] { return !queued().empty(); }));
    EXPECT_FALSE(contains(rec->events(), "IN"));
    EXPECT_FALSE(contains(rec->events(), "OUT"));

    openLogger();
    rec->clear();
    send({0x80, 0x40, 0x00, 0x80, 0x41, 0x00});
    EXPECT_TRUE(eventually([&] { return rec->events().size() >= 2; }));
    EXPECT_EQ(rec->events(), (Journal{"IN", "OUT"}));

    vcr.loggerClosing();
    rec->clear();
    send({0x80, 0x40, 0x00, 0x80, 0x46, 0x00});
    EXPECT_TRUE(eventually([&] { return !queued().empty(); }));
    EXPECT_FALSE(contains(rec->events(), "IN"));
    port_->stopme();
}

TEST_F(EditPort, UnknownMessagesAreConsumedAndIgnored) {
    // 0x80 0x47, header 0x90, command byte 0, and a 15-data-byte message
    // whose data look like play commands: all taken, none acted on.
    B junk = {0x80, 0x47, 0x00, 0x90, 0x45, 0x00, 0x80, 0x00, 0x45, 0x81, 0x00, 0x00, 0x07, 0x8F, 0x45, 0x00};
    for (int i = 0; i < 5; ++i) junk.insert(junk.end(), {0x80, 0x45, 0x00});
    junk.insert(junk.end(), {0x80, 0x44, 0x00});
    send(junk);
    ASSERT_TRUE(arrived(static_cast<int>(junk.size())));
    for (int i = 0; i < 6; ++i) port_->readpart1();
    EXPECT_EQ(waiting(), 0);
    EXPECT_EQ(queued(), std::vector<std::string>{"ST\r"}) << "only the pause after the long message";
}

TEST_F(EditPort, FramingWaitsForWholeParts) {
    // Two bytes are not a message yet.
    send({0x80, 0x45});
    ASSERT_TRUE(arrived(2));
    for (int i = 0; i < 3; ++i) port_->readpart1();
    EXPECT_EQ(waiting(), 2);
    EXPECT_TRUE(queued().empty());
    send({0x00});
    ASSERT_TRUE(arrived(3));
    port_->readpart1();
    EXPECT_EQ(queued(), std::vector<std::string>{"PL\r"});

    // Header 0x82 announces two data bytes that come only after a poll took
    // the first three: they start the next message.
    rec->clear();
    send({0x82, 0x45, 0x00});
    ASSERT_TRUE(arrived(3));
    port_->readpart1();
    EXPECT_EQ(port_->buffer()[0], 0x82);
    EXPECT_TRUE(queued().empty()) << "group 0x82 is not in the set";
    send({0x80, 0x44, 0x00});
    ASSERT_TRUE(arrived(3));
    port_->readpart1();
    EXPECT_EQ(queued(), std::vector<std::string>{"ST\r"});

    // A whole 0x82 message is taken in one poll, its data in the buffer.
    rec->clear();
    send({0x82, 0x45, 0x00, 0x80, 0x45});
    ASSERT_TRUE(arrived(5));
    port_->readpart1();
    EXPECT_EQ(waiting(), 0);
    auto msg = port_->buffer();
    EXPECT_EQ(msg[3], 0x80);
    EXPECT_EQ(msg[4], 0x45);
    EXPECT_TRUE(queued().empty());
}

TEST_F(EditPort, MessageSetOffDoesNothing) {
    port_.reset();
    SerInPort off(slaveName_, false);
    off.setsleeptime(50);  // class-wide: the fixture's port is gone
    EXPECT_FALSE(off.getMCS());
    off.setlocalvcr(&vcr);
    send({0x80, 0x45, 0x00});
    ASSERT_TRUE(arrived(3));
    off.readpart1();
    EXPECT_EQ(off.buffer()[1], 0x45) << "the message was read";
    EXPECT_TRUE(queued().empty());
}

TEST_F(EditPort, RandomBytesForAWhile) {
    port_->start();
    std::mt19937 gen(11);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 40; ++round) {
        B noise(32);
        for (auto& b : noise) b = static_cast<std::uint8_t>(byte(gen));
        send(noise);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // Whatever was left over, the line keeps working once it is re-aligned:
    // zero bytes complete any pending message with a null command, and an
    // empty input means the next byte starts a message. On a loaded machine
    // the port thread can still be between a message's first three bytes and
    // its data bytes when the input runs empty; a stop message sent then is
    // taken as that data, so it is sent again after more zeros.
    ASSERT_TRUE(eventually([&] {
        if (waiting() != 0) {
            send({0x00});
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return false;
        }
        rec->clear();
        send({0x80, 0x46, 0x00});
        if (eventually([&] { return !queued().empty(); }, std::chrono::seconds(1))) return true;
        send({0x00});
        return false;
    }));
    EXPECT_EQ(queued(), std::vector<std::string>{"PA\r"});
    port_->stopme();
}

// The port on an in-memory line: a message drives the controller; a line
// that fails is reported once with the system's reason while polling goes
// on, and it works again when it comes back.
class EditPortOpening : public RemoteFixture {};

TEST_F(EditPortOpening, InjectedLineDrivesTheControllerAndReportsItsFailureOnce) {
    MemoryLine line("edit-line");
    SerInPort port(line.makePort(), line.name(), true);
    ASSERT_TRUE(port.opened());
    port.setlocalvcr(&vcr);
    line.send(std::string("\x80\x45\x00", 3));
    port.readpart1();
    EXPECT_EQ(queued(), std::vector<std::string>{"PL\r"});

    line.hangUp();
    for (int i = 0; i < 3; ++i) port.readpart1();
    EXPECT_EQ(port.getSerError(), 2);
    EXPECT_EQ(console.lines(), (std::vector<std::string>{"Unable to read from Serial Port",
                                                         "Serial Port edit-line: Input/output error"}));

    line.replug();
    line.send(std::string("\x80\x44\x00", 3));
    port.readpart1();
    EXPECT_EQ(queued(), (std::vector<std::string>{"PL\r", "ST\r"}));
    EXPECT_EQ(console.lines().size(), 2u);
}

TEST_F(EditPortOpening, UnavailablePortPollsHarmlessly) {
    auto port = makeSerInPort("/dev/morvia-no-such-port");
    EXPECT_FALSE(port->opened());
    ASSERT_FALSE(console.lines().empty()) << "the failure's text is printed";
    port->setlocalvcr(&vcr);
    port->setsleeptime(1);
    port->start();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    port->stopme();
    port->setsleeptime(50);
    EXPECT_TRUE(rec->events().empty());
    auto lines = console.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "B= 3"), lines.end());
}

}  // namespace

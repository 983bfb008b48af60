// Many command sources at once: transport operations, cues and reviews,
// title changes, frame replies from the link thread, status refreshes from the
// polling thread. Run under ThreadSanitizer this must stay silent; in every
// build the commands must come out whole.
#include <atomic>
#include <regex>
#include <thread>

#include "player/TCThread.h"
#include "player/VcrTestSupport.h"

namespace morvia::test {
namespace {

TEST_F(VcrTest, ConcurrentCommandSourcesQueueWholeCommands) {
    settings.set(&Settings::useclipboard, true);
    Quenta::setrepeatval(1);
    RecordingLink portLink(rec, true);
    auto& v = make(&portLink);
    display.set(Field::cuefield, "00:00:01:00");
    display.set(Field::endfield, "00:00:02:00");
    v.GetTC();
    ASSERT_NE(v.gettcthread(), nullptr);
    v.gettcthread()->setsleeptime(1);
    auto client = std::make_shared<RecordingClient>();

    constexpr int kRounds = 200;
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    auto spawn = [&](auto body) {
        threads.emplace_back([&go, body] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < kRounds; ++i) body(i);
        });
    };
    spawn([&](int i) {  // the window
        v.play();
        v.shutfwd(11 + i % 50);
        v.shutrev(30);
        v.sbyonoff();
        v.jogf();
        if (i % 8 == 0) v.review();
    });
    spawn([&](int i) {  // a script
        v.shutfwd(60 - i % 40);
        v.cuein();
        v.setdirectin();
        if (i % 10 == 0) v.repeat();
        v.allstop();
    });
    spawn([&](int i) {  // a network client
        if (i % 5 == 0) v.setconnectthread(i % 10 ? client : nullptr);
        v.setcurtitle(1 + i % 99);
        v.settitle();
        v.setcurchapter(1 + (i * 7) % 99);
        v.setchapter();
        v.reporttc();
        v.reportstatus();
        v.setstoprepeat();
    });
    spawn([&](int i) {  // the link thread
        std::uint8_t buf[16] = {};
        const std::string digits = std::to_string(1000000 + i * 37);
        std::copy(digits.begin(), digits.end(), buf);
        buf[7] = '\r';
        v.SerIn(buf, 16);
        v.DoTC(buf, 16, 8);
        v.DoTC(buf, 16, 3);
        v.setinfo(1 + i % 99, 1 + i % 50);
        v.TCIndicate(i % 2 == 0);
        (void)v.getTCString();
    });
    spawn([&](int) {  // another status reader
        v.status();
        (void)v.getStatusString();
        (void)v.lastReply();
        (void)v.templates().get(CommandTemplates::Id::variable);
    });
    go.store(true);
    for (auto& t : threads) t.join();
    vcr.reset();

    const std::regex whole(
        "Q:(\r|PL\r|ST\r|PA\r|NF\r|NR\r|SF\r|NS\r|\\?A\r|[1-6][0-9]SPMF\r|TI[0-9][0-9]SEPL\r|CH[0-9][0-9]SEPL\r|"
        "FR[0-9]{7}(SE|SM|SMPL)\r)");
    for (const auto& e : rec->events()) {
        if (e.rfind("Q:", 0) == 0) {
            EXPECT_TRUE(std::regex_match(e, whole)) << e;
        }
    }
    // Every frame command carries one of the two points of the fields.
    for (const auto& q : rec->only("Q:FR")) {
        const std::string f = q.substr(0, 7);
        EXPECT_TRUE(f == "0000030" || f == "0000060") << q;
    }
}

}  // namespace
}  // namespace morvia::test

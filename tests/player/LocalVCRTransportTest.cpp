#include <functional>

#include "player/StatusText.h"
#include "player/VcrTestSupport.h"

namespace morvia::test {
namespace {

using Op = std::function<void(LocalVCR&)>;

TEST_F(VcrTest, TransportOperationsSendOneCommandAndRecordTheirStatus) {
    struct Row {
        const char* name;
        Op op;
        const char* bytes;
        int status;
    };
    const Row rows[] = {
        {"play", &LocalVCR::play, "PL\r", 1},
        {"pause", &LocalVCR::pause, "ST\r", 0},
        {"stopvcr", &LocalVCR::stopvcr, "ST\r", 0},
        {"sbyon", &LocalVCR::sbyon, "ST\r", 0},
        {"stop", &LocalVCR::stop, "PA\r", 9},
        {"sbyoff", &LocalVCR::sbyoff, "PA\r", 9},
        {"allstop", &LocalVCR::allstop, "PA\r", 0},
        {"forward", &LocalVCR::forward, "NF\r", 2},
        {"rewind", &LocalVCR::rewind, "NR\r", 3},
        {"slowfourth", &LocalVCR::slowfourth, "15SPMF\r", 1},
        {"slowhalf", &LocalVCR::slowhalf, "30SPMF\r", 1},
        {"jogf", &LocalVCR::jogf, "SF\r", 6},
        {"jogr", &LocalVCR::jogr, "SR\r", 7},
        {"eject", &LocalVCR::eject, "OP\r", 10},
        {"findzero", &LocalVCR::findzero, "TM000SE\r", 0},
    };
    auto& v = make();
    for (const auto& r : rows) {
        v.play();  // a known different status first
        v.jogr();
        rec->clear();
        r.op(v);
        EXPECT_EQ(queued(), std::vector<std::string>{r.bytes}) << r.name;
        EXPECT_EQ(v.getStatus(), r.status) << r.name;
    }
}

TEST_F(VcrTest, ShuttleThresholds) {
    auto& v = make();
    struct Row {
        bool fwd;
        int speed;
        const char* bytes;
        int status;
    };
    const Row rows[] = {
        {true, 10, "ST\r", 0},  {true, 11, "11SPMF\r", 1}, {true, 60, "60SPMF\r", 1}, {true, 61, "NF\r", 2},
        {true, 0, "ST\r", 0},   {true, -5, "ST\r", 0},     {true, 94, "NF\r", 2},     {false, 20, "ST\r", 0},
        {false, 21, "NR\r", 3}, {false, 2, "ST\r", 0},
    };
    for (const auto& r : rows) {
        v.jogf();
        rec->clear();
        if (r.fwd) {
            v.shutfwd(r.speed);
        } else {
            v.shutrev(r.speed);
        }
        EXPECT_EQ(queued(), std::vector<std::string>{r.bytes}) << (r.fwd ? "fwd " : "rev ") << r.speed;
        EXPECT_EQ(v.getStatus(), r.status) << (r.fwd ? "fwd " : "rev ") << r.speed;
    }
    // The variable-speed template keeps its digits until the next variable speed.
    v.shutfwd(25);
    v.shutfwd(70);
    v.shutrev(50);
    EXPECT_EQ(v.templates().get(CommandTemplates::Id::variable), "25SPMF\r");
}

TEST_F(VcrTest, AllstopAndStopSendTheSameBytesButShowDifferently) {
    auto& v = make();
    v.allstop();
    rec->clear();
    EXPECT_EQ(v.ExtractStatusString(), "Pause ");
    EXPECT_EQ(rec->events(), (Journal{"CLR", "H:bpause"}));
    EXPECT_TRUE(v.getstandby());

    v.stop();
    rec->clear();
    EXPECT_EQ(v.ExtractStatusString(), "");
    EXPECT_EQ(rec->events(), (Journal{"CLR", "H:bstop"}));
    EXPECT_FALSE(v.getstandby());
}

TEST_F(VcrTest, StatusTextsAndHighlightsForEveryCode) {
    struct Row {
        int code;
        const char* text;
        std::vector<Control> lit;
        bool standby;
    };
    const std::vector<Row> rows = {
        {0, "Pause ", {Control::bpause}, true},
        {1, "Play ", {Control::bplay}, true},
        {2, "FF Shuttle ", {Control::bfwd, Control::vsb}, true},
        {3, "REW Shuttle ", {Control::brew, Control::vsb}, true},
        {6, "Jog ", {Control::bjogf}, true},
        {7, "Jog ", {Control::bjogr}, true},
        {9, "", {Control::bstop}, false},
        {10, "", {Control::bstop}, false},
    };
    for (const auto& r : rows) {
        const StatusView s = DescribeStatus(r.code);
        EXPECT_EQ(s.text, r.text) << r.code;
        EXPECT_EQ(s.lit, r.lit) << r.code;
        EXPECT_EQ(s.standby, r.standby) << r.code;
    }
}

TEST_F(VcrTest, CommandStatusShowsTheTextAndNoPlayerWithoutALink) {
    auto& v = make();
    v.forward();
    rec->clear();
    v.CommandStatus();
    EXPECT_EQ(rec->events(), (Journal{"CLR", "H:bfwd", "H:vsb", "S:FF Shuttle "}));
    EXPECT_EQ(v.getStatusString(), "FF Shuttle ");

    LocalVCR lonely(nullptr, display, 2001);
    rec->clear();
    lonely.play();  // nothing to send it to
    lonely.status();
    EXPECT_EQ(rec->events(), (Journal{"CLR", "H:bplay", "S:Play ", "S:No DVD Detected"}));
}

TEST_F(VcrTest, StandbyToggleFollowsTheLastStatusUpdate) {
    auto& v = make();
    v.play();
    v.CommandStatus();  // standby true
    rec->clear();
    v.sbyonoff();
    EXPECT_EQ(queued(), std::vector<std::string>{"PA\r"});
    EXPECT_EQ(v.getStatus(), 9);
    v.CommandStatus();  // standby false
    rec->clear();
    v.sbyonoff();
    EXPECT_EQ(queued(), std::vector<std::string>{"ST\r"});
    EXPECT_EQ(v.getStatus(), 0);
}

TEST_F(VcrTest, AutostartSendsTheTitleCommandAndFillsTheFields) {
    auto& v = make();
    v.setcurchapter(4);
    v.setcurtitle(3);
    v.forward();
    rec->clear();
    v.autostart();
    EXPECT_EQ(pick(*rec, {"Q:", "F:"}),
              (Journal{"Q:\r", "Q:NS\r", "Q:ST\r", "Q:TI01SEPL\r", "F:chapterfield=4", "F:titlefield=3"}));
    EXPECT_EQ(v.getStatus(), 0);
    EXPECT_EQ(v.CommandB4("host"), "");
    v.CommandB5();
}

}  // namespace
}  // namespace morvia::test

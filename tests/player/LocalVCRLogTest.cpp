// The controller's events in the session log: in and out points, cue,
// review and repeat starting and ending with their outcomes, title and
// chapter changes the player reports, and the timecode.
#include <cstring>

#include "player/VcrTestSupport.h"
#include "sessionlog/SessionLog.h"
#include "support/Files.h"
#include "support/SteppedClock.h"

namespace morvia::test {
namespace {

TEST_F(VcrTest, OperationsPointsTitlesAndTheTimecodeAreLogged) {
    TempDir dir("vcrlog");
    auto log = sessionlog::Writer::open(dir.path().string(), sessionlog::Event("start"),
                                        std::make_shared<SteppedClock>());
    ASSERT_TRUE(log);
    auto& v = make();
    display.set(Field::cuefield, "00:00:01:00");
    display.set(Field::endfield, "00:00:02:00");
    {
        const sessionlog::Scope s("button");
        v.setdirectin();
        v.cuein();
    }
    display.set(Field::endfield, "not a time");
    v.cueout();
    display.set(Field::endfield, "00:00:02:00");
    v.review();
    Quenta::setrepeatval(2);
    v.repeat();
    display.set(Field::endfield, "00:00:00:10");  // before the in point
    v.review();
    v.setinfo(3, 4);
    v.setinfo(3, 4);
    v.setinfo(3, 5);
    std::uint8_t reply[16] = {};
    std::memcpy(reply, "0000450\r", 8);
    v.DoTC(reply, 16, 8);
    const std::string path = log->path();
    log->finish("stopped");

    // event, operation, phase, outcome, one more field
    using Row = std::vector<std::string>;
    auto field = [](const sessionlog::Members& m, const std::string& k) {
        for (const auto& [key, value] : m)
            if (key == k) return value;
        return std::string();
    };
    std::vector<Row> got;
    for (const auto& l : fileLines(path)) {
        const auto m = sessionlog::parseObject(l);
        ASSERT_TRUE(m) << l;
        got.push_back({field(*m, "event"), field(*m, "operation"), field(*m, "phase"), field(*m, "outcome"),
                       field(*m, "point") + field(*m, "passes") + field(*m, "title") + "/" + field(*m, "chapter") +
                           "/" + field(*m, "tc") + "/" + field(*m, "source")});
    }
    const std::vector<Row> want = {
        {"start", "", "", "", "///"},
        {"in_point", "", "", "set", "00:00:01:00///button"},
        {"out_point", "", "", "set", "00:00:02:00///button"},
        {"cue", "in", "started", "", "///button"},
        {"cue", "in", "ended", "cued", "///button"},
        {"cue", "out", "started", "", "///"},
        {"cue", "out", "ended", "abandoned", "///"},
        {"review", "", "started", "", "///"},
        {"review", "", "ended", "played", "///"},
        {"repeat", "", "started", "", "///"},
        {"repeat", "", "ended", "done", "2///"},
        {"review", "", "started", "", "///"},
        {"review", "", "ended", "not valid", "///"},
        {"title", "", "", "", "3/4//"},
        {"chapter", "", "", "", "3/5//"},
        {"tc", "", "", "", "3/5/00:00:15:00/"},
        {"end", "", "", "stopped", "3/5/00:00:15:00/"},
    };
    EXPECT_EQ(got, want);
}

}  // namespace
}  // namespace morvia::test

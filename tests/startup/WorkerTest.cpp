// The one thread type: its stop reaches a sleeping or waiting body at once,
// running() follows the body, and the thread rules end the process.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "startup/Worker.h"
#include "support/TestSupport.h"

namespace morvia::test {
namespace {

using namespace std::chrono_literals;

TEST(Worker, AStopCutsALongSleepAndAWaitAndRunningFollowsTheBody) {
    std::promise<void> asleep;
    std::atomic<bool> sleptToTheEnd{true};
    Worker sleeper("sleeper");
    EXPECT_FALSE(sleeper.running());
    sleeper.start([&](std::stop_token) {
        asleep.set_value();
        sleptToTheEnd = sleeper.sleepFor(10min);  // only a stop ends it in time
    });
    asleep.get_future().wait();
    EXPECT_TRUE(sleeper.running());
    sleeper.stop();
    EXPECT_FALSE(sleptToTheEnd.load());
    EXPECT_FALSE(sleeper.running());
    sleeper.stop();  // a second stop does nothing

    std::mutex m;
    std::condition_variable_any cv;
    bool ready = false;
    std::promise<bool> result;
    Worker waiter("waiter");
    waiter.start([&](std::stop_token) {
        std::unique_lock<std::mutex> lock(m);
        result.set_value(waiter.waitFor(cv, lock, [&] { return ready; }));
    });
    waiter.requestStop();  // before or during the wait: either way it returns
    EXPECT_FALSE(result.get_future().get());
    waiter.stop();

    // The body sees its own worker from its first line, even when the new
    // thread runs before start() has returned.
    for (int i = 0; i < 200; ++i) {
        Worker w("early");
        std::atomic<bool> onOwn{false};
        w.start([&](std::stop_token) { onOwn = w.onThread(); });
        w.stop();
        ASSERT_TRUE(onOwn.load()) << "start " << i;
    }

    Worker quick("quick");
    quick.start([](std::stop_token) {});
    while (quick.running()) std::this_thread::yield();
    EXPECT_FALSE(quick.stopRequested());
}

TEST(Worker, ABodyThatSeesNoStopEndsOnItsOwnAndAWorkerNeverStartedIsHarmless) {
    std::atomic<int> turns{0};
    {
        Worker w("counter");
        w.start([&](std::stop_token) {
            for (int i = 0; i < 3; ++i) ++turns;
        });
    }  // the destructor asks for a stop this body ignores, and joins
    EXPECT_EQ(turns.load(), 3);
    Worker never("never");
    never.requestStop();
    never.stop();
    EXPECT_FALSE(never.running());
}

// The lifecycle belongs to the worker: start and stop in any order, any
// number of times, from any thread, run the body at most once.
TEST(Worker, StartAndStopAreIdempotentAndTheStateNamesWhereTheWorkerIs) {
    using S = Worker::State;
    struct Case {
        const char* name;
        std::vector<std::string> steps;  // "start", "stop", "request"
        int runs;                        // bodies run
        S state;                         // at the end
    };
    const Case cases[] = {
        {"never started", {}, 0, S::idle},
        {"started twice", {"start", "start"}, 1, S::running},
        {"stopped twice", {"start", "stop", "stop"}, 1, S::stopped},
        {"stopped before start", {"stop", "start"}, 0, S::stopped},
        {"asked to stop before start", {"request", "start"}, 0, S::stopped},
        {"asked to stop while running", {"start", "request"}, 1, S::stopping},
        {"restarted after a stop", {"start", "stop", "start"}, 1, S::stopped},
    };
    for (const Case& c : cases) {
        std::atomic<int> runs{0};
        Worker w(c.name);
        for (const auto& step : c.steps) {
            if (step == "start") {
                w.start([&](std::stop_token) {
                    ++runs;
                    w.sleepFor(10min);
                });
            } else if (step == "stop") {
                w.stop();
            } else {
                w.requestStop();
            }
        }
        EXPECT_EQ(w.state(), c.state) << c.name;
        w.stop();
        EXPECT_EQ(runs.load(), c.runs) << c.name;
        EXPECT_EQ(w.state(), S::stopped) << c.name;
    }

    // Four threads start and stop one worker at once: one body, every stop
    // returns after the join.
    for (int round = 0; round < 50; ++round) {
        std::atomic<int> runs{0};
        Worker w("contended");
        std::vector<std::thread> callers;
        for (int t = 0; t < 4; ++t) {
            callers.emplace_back([&, t] {
                w.start([&](std::stop_token) {
                    ++runs;
                    w.sleepFor(10min);
                });
                if (t % 2) {
                    w.stop();
                    EXPECT_FALSE(w.running());
                }
            });
        }
        for (auto& c : callers) c.join();
        w.stop();
        EXPECT_LE(runs.load(), 1);
        EXPECT_EQ(w.state(), S::stopped);
    }
}

TEST(Worker, AnExceptionLeavingTheBodyIsReportedWithTheThreadsName) {
    ConsoleCapture console;
    Worker failing("failing");
    failing.start([](std::stop_token) { throw std::runtime_error("the port went away"); });
    failing.stop();
    Worker odd("odd");
    odd.start([](std::stop_token) { throw 42; });
    odd.stop();
    EXPECT_EQ(console.lines(), (std::vector<std::string>{"failing: the port went away", "odd: unknown exception"}));
}

using WorkerDeathTest = ::testing::Test;

TEST(Worker, TheBodyKnowsItsOwnThreadFromItsFirstLine) {
    // Before the start-up ordering the body could run before start() had
    // stored the thread, so its very first onThread() answered false.
    for (int i = 0; i < 200; ++i) {
        std::atomic<bool> own{false};
        Worker w("own");
        w.start([&](std::stop_token) { own = w.onThread(); });
        w.stop();
        ASSERT_TRUE(own.load()) << "round " << i;
        EXPECT_FALSE(w.onThread());
    }
}

TEST(WorkerDeathTest, StoppingFromItsOwnThreadOrCheckingTheWrongThreadEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            Worker w("selfstop");
            std::promise<void> done;
            w.start([&](std::stop_token) {
                w.stop();
                done.set_value();
            });
            done.get_future().wait();
        },
        "selfstop: stopped from its own thread");
    EXPECT_DEATH(
        {
            Worker w("elsewhere");
            w.requireOnThread("the link's state belongs to the link thread");
        },
        "elsewhere: the link's state belongs to the link thread");
}

}  // namespace
}  // namespace morvia::test

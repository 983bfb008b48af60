// The action thread: order, draining, stopping, failures.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "window/ActionQueue.h"
#include "support/TestSupport.h"

namespace morvia::test {
namespace {

TEST(ActionQueue, RunsJobsOneAtATimeInPostingOrder) {
    ActionQueue q;
    std::vector<int> order;  // touched only by jobs: one at a time
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    for (int i = 0; i < 5; ++i) {
        q.post([&, i] {
            if (running.fetch_add(1) != 0) overlapped = true;
            order.push_back(i);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            running.fetch_sub(1);
        });
    }
    EXPECT_EQ(q.pending(), 5u);  // nothing runs before start()
    q.start();
    // Jobs posted from several threads and from a job keep each poster's order.
    std::vector<std::thread> posters;
    std::mutex seenLock;
    std::vector<std::vector<int>> seen(3);
    for (int t = 0; t < 3; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i)
                q.post([&, t, i] {
                    std::lock_guard g(seenLock);
                    seen[t].push_back(i);
                });
        });
    }
    for (auto& p : posters) p.join();
    std::promise<bool> onWorker;
    q.post([&] { q.post([&] { onWorker.set_value(q.onWorker()); }); });
    EXPECT_TRUE(onWorker.get_future().get());
    q.drain();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_FALSE(overlapped.load());
    for (const auto& s : seen) {
        ASSERT_EQ(s.size(), 100u);
        for (int i = 0; i < 100; ++i) EXPECT_EQ(s[i], i);
    }
    EXPECT_FALSE(q.onWorker());
}

TEST(ActionQueue, StopFinishesQueuedJobsAndRefusesNewOnes) {
    std::atomic<int> ran{0};
    {
        ActionQueue q;
        q.start();
        std::promise<void> release;
        auto gate = release.get_future().share();
        q.post([gate] { gate.wait(); });
        for (int i = 0; i < 10; ++i) q.post([&] { ran.fetch_add(1); });
        std::thread stopper([&] { q.stop(); });
        release.set_value();
        stopper.join();
        EXPECT_EQ(ran.load(), 10);
        EXPECT_FALSE(q.post([&] { ran.fetch_add(1); }));
        q.stop();  // again: nothing
    }
    EXPECT_EQ(ran.load(), 10);
    // Never started: stop and destruction return at once.
    ActionQueue idle;
    idle.post([] {});
    idle.drain();
}

TEST(ActionQueue, AFailingJobDoesNotStopTheWorker) {
    ConsoleCapture console;
    ActionQueue q;
    q.start();
    q.post([] { throw std::runtime_error("boom"); });
    std::atomic<bool> after{false};
    q.post([&] { after = true; });
    q.drain();
    EXPECT_TRUE(after.load());
    EXPECT_EQ(console.lines(), std::vector<std::string>{"Action failed: boom"});

    std::vector<int> statuses;  // written by the handler on the worker
    q.setErrorHandler([&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const ExitCalled& x) {
            statuses.push_back(x.status);
        }
    });
    q.post([] { throw ExitCalled(3); });
    q.post([] { throw 42; });  // not an exception class: the handler's rethrow leaves it
    q.drain();
    EXPECT_EQ(statuses, std::vector<int>{3});
    EXPECT_EQ(console.lines().back(), "Action failed");
}

using ActionQueueDeathTest = ::testing::Test;

// A job that stops its own queue would wait for itself, and code that belongs
// to the action thread run anywhere else breaks the one-at-a-time rule: both
// end the process with a message instead of hanging or racing.
TEST(ActionQueueDeathTest, StoppingFromAJobOrActingOffTheActionThreadEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            ActionQueue q;
            q.start();
            q.post([&] { q.stop(); });
            q.drain();
        },
        "action thread: stopped from one of its own jobs");
    EXPECT_DEATH(
        {
            ActionQueue q;
            q.start();
            q.requireOnWorker("listeners run on the action thread");
        },
        "action thread: listeners run on the action thread");
}

}  // namespace
}  // namespace morvia::test

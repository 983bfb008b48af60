// The bridge to the Qt thread: order, results, failures, and a waiter whose
// job never runs.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/Eventually.h"
#include "support/QtEnvironment.h"
#include "support/TestSupport.h"
#include "window/GuiQueue.h"

namespace morvia::test {
namespace {

// gtest owns registered environments.
::testing::Environment* const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment("window_tests"));

TEST(GuiQueue, RunsJobsOnTheQtThreadInOrderAndHandsResultsBack) {
    GuiQueue q;
    EXPECT_TRUE(q.onGuiThread());
    std::vector<int> order;  // touched on the Qt thread only
    std::atomic<bool> offThread{false};
    const auto qtThread = std::this_thread::get_id();
    std::atomic<int> answer{0};
    std::thread other([&] {
        EXPECT_FALSE(q.onGuiThread());
        for (int i = 0; i < 50; ++i)
            q.post([&, i] {
                if (std::this_thread::get_id() != qtThread) offThread = true;
                order.push_back(i);
            });
        // Queued behind the posts, so it sees all of them.
        answer = q.call([&] { return static_cast<int>(order.size()); });
    });
    EXPECT_TRUE(eventually(
        [&] {
            QCoreApplication::processEvents();
            return answer.load() != 0;
        },
        std::chrono::seconds(30)));
    other.join();
    EXPECT_EQ(answer.load(), 50);
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    EXPECT_FALSE(offThread.load());
    // On the Qt thread a call runs at once, without the event loop.
    EXPECT_EQ(q.call([] { return std::string("here"); }), "here");
    EXPECT_EQ(q.pending(), 0u);
}

TEST(GuiQueue, AFailingJobIsReportedAndTheNextOnesStillRun) {
    ConsoleCapture console;
    GuiQueue q;
    int ran = 0;
    q.post([] { throw std::runtime_error("no such field"); });
    q.post([] { throw 7; });
    q.post([&] { ++ran; });
    EXPECT_EQ(q.pending(), 3u);
    q.flush();
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(console.lines(),
              (std::vector<std::string>{"Window update failed: no such field", "Window update failed"}));
    // What a called job throws reaches its caller instead.
    std::thread other(
        [&] { EXPECT_THROW(q.call([]() -> int { throw std::runtime_error("bad"); }), std::runtime_error); });
    EXPECT_TRUE(eventually([&] { return q.pending() == 1; }, std::chrono::seconds(30)));
    q.flush();
    other.join();
    EXPECT_EQ(console.lines().size(), 2u);
}

TEST(GuiQueue, AWaiterWhoseJobIsDroppedIsReleased) {
    auto q = std::make_unique<GuiQueue>();
    std::atomic<bool> ran{false};
    // A job already waits, so the waiter's post only appends under the lock:
    // once two jobs are seen, the waiter no longer touches the queue.
    q->post([&] { ran = true; });
    std::promise<bool> released;
    std::thread waiter([&] {
        try {
            q->call([&] { ran = true; });
            released.set_value(false);
        } catch (const std::future_error&) {
            released.set_value(true);
        }
    });
    ASSERT_TRUE(eventually([&] { return q->pending() == 2; }, std::chrono::seconds(30)));
    q.reset();  // the window went away before the Qt thread ran the job
    auto outcome = released.get_future();
    ASSERT_EQ(outcome.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "the waiter is still blocked";
    waiter.join();
    EXPECT_TRUE(outcome.get());
    EXPECT_FALSE(ran.load());
}

}  // namespace
}  // namespace morvia::test

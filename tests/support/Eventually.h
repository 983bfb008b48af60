// Waiting on a condition in tests: poll, never sleep a guessed time.
#pragma once

#include <chrono>
#include <thread>

namespace morvia::test {

// Polls `pred` every millisecond until it holds or `limit` has passed, and
// returns whether it held. The default limit is generous: sanitizer builds on
// a loaded machine are slow, and a passing test never waits for it.
template <class Pred>
bool eventually(Pred&& pred, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace morvia::test

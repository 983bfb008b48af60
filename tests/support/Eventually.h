// Waiting on a condition in tests: poll, never sleep a guessed time.
#pragma once

#include <chrono>
#include <thread>

namespace morvia::test {

// Polls `pred` every `pace` (a millisecond unless a check costs more, such
// as reading a file) until it holds or `limit` has passed, and returns
// whether it held. The default limit is generous: sanitizer builds on a
// loaded machine are slow, and a passing test never waits for it.
template <class Pred>
bool eventually(Pred&& pred, std::chrono::milliseconds limit = std::chrono::seconds(20),
                std::chrono::milliseconds pace = std::chrono::milliseconds(1)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) return pred();
        std::this_thread::sleep_for(pace);
    }
    return true;
}

// Files a child program writes are polled at this pace.
inline constexpr std::chrono::milliseconds kFilePace{50};

}  // namespace morvia::test

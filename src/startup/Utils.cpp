#include "startup/Utils.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace morvia {
namespace {

struct Hooks {
    std::mutex lock;
    std::shared_ptr<Clock> clock;
    std::function<void(std::string_view)> sink;
    std::function<void(int)> exitHandler;
};

Hooks& hooks() {
    static Hooks h;  // never destroyed before worker threads: function-local static
    return h;
}

std::atomic<int> failing{-1};
static_assert(std::atomic<int>::is_always_lock_free);

std::mutex& consoleLock() {
    static std::mutex m;
    return m;
}

}  // namespace

std::string Utils::BS2S(const std::uint8_t* bytes, std::size_t len, int count) {
    std::string out;
    if (count <= 0 || bytes == nullptr) return out;
    std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), len);
    out.reserve(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(hexchar[(bytes[i] & himask) >> 4]);
        out.push_back(hexchar[bytes[i] & lomask]);
    }
    return out;
}

Bytes Utils::S2BS(std::string_view text) {
    Bytes out(text.size() / 2, 0);
    for (std::size_t i = 0; i < out.size() && i < 15; ++i) {
        out[i] = static_cast<std::uint8_t>((C2B(text[2 * i]) << 4) | C2B(text[2 * i + 1]));
    }
    return out;
}

int Utils::C2B(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

std::uint8_t Utils::ASCIIHEX2BYTE(std::uint8_t b) {
    // Bytes from 0x80 up are negative as signed values and map to 0.
    if (b >= 0x80) return 0;
    return static_cast<std::uint8_t>(C2B(static_cast<char>(b)));
}

std::uint8_t Utils::BYTE2ASCIIHEX(std::uint8_t b) {
    auto v = static_cast<std::int8_t>(b);
    return static_cast<std::uint8_t>(v <= 9 ? v + 0x30 : v + 0x37);
}

namespace {

int wholeMs(Clock::duration d) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

}  // namespace

std::shared_ptr<Clock> Utils::clock() {
    std::lock_guard g(hooks().lock);
    return hooks().clock ? hooks().clock : Clock::steady();
}

void Utils::DelayT(int ms) {
    if (ms <= 0) return;
    clock()->sleepFor(std::chrono::milliseconds(ms));
}

bool Utils::DelayT(int ms, const std::function<bool(int)>& wait) {
    return clock()->delay(std::chrono::milliseconds(ms > 0 ? ms : 0),
                          [&wait](Clock::duration d) { return wait(wholeMs(d)); });
}

void Utils::OutLine(std::string_view text) {
    std::function<void(std::string_view)> sink;
    {
        std::lock_guard g(hooks().lock);
        sink = hooks().sink;
    }
    if (sink) {
        sink(text);
        return;
    }
    std::lock_guard g(consoleLock());
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Utils::Debug(std::string_view text) {
    if (debug) OutLine(text);
}

void Utils::Exit(int status) {
    std::function<void(int)> handler;
    {
        std::lock_guard g(hooks().lock);
        handler = hooks().exitHandler;
    }
    if (handler) handler(status);
    {
        std::lock_guard g(consoleLock());
        std::fflush(stdout);
        std::fflush(stderr);
    }
    std::_Exit(status);
}

void Utils::FailAndExit(int ms, int status) {
    failing.store(status);
    DelayT(ms);
    Exit(status);
}

int Utils::failingStatus() noexcept { return failing.load(); }

void Utils::setClock(std::shared_ptr<Clock> clock) {
    std::lock_guard g(hooks().lock);
    hooks().clock = std::move(clock);
}

void Utils::setConsoleSink(std::function<void(std::string_view)> sink) {
    std::lock_guard g(hooks().lock);
    hooks().sink = std::move(sink);
}

std::function<void(int)> Utils::setExitHandler(std::function<void(int)> handler) {
    std::lock_guard g(hooks().lock);
    std::swap(hooks().exitHandler, handler);
    return handler;
}

}  // namespace morvia

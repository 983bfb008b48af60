// An in-memory serial line for tests that need a port but not a real line.
// The code under test owns the SerialPort that makePort() hands out; the test
// holds the MemoryLine and plays the far end with the same calls as PtyPeer
// (send, receive, receiveCommand, drain), or has every write answered at
// once through answerWith; hangUp and replug pull and put back the cable.
#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "serial/SerialConfig.h"
#include "serial/SerialErrors.h"
#include "serial/SerialPort.h"

namespace morvia::test {

class MemoryLine {
public:
    // Given each write (on the writer's thread); what it returns is on the
    // line before the write returns, as a player answering within any wait.
    using Answer = std::function<std::string(const std::string& written)>;

    explicit MemoryLine(std::string name = "memory-line") : state_(std::make_shared<State>()) {
        state_->name = std::move(name);
    }

    const std::string& name() const { return state_->name; }

    // An open port on this line. Ports share the line and may outlive it.
    std::unique_ptr<SerialPort> makePort() const { return std::make_unique<Port>(state_); }

    void answerWith(Answer answer) {
        std::lock_guard g(state_->lock);
        state_->answer = std::move(answer);
    }

    // Pulls the cable: writes and counts of waiting bytes fail with EIO (as
    // on a hung-up terminal) and the port does not open again until replug().
    void hangUp() {
        std::lock_guard g(state_->lock);
        state_->hungUp = true;
    }
    void replug() {
        std::lock_guard g(state_->lock);
        state_->hungUp = false;
    }

    // Puts bytes on the line towards the port.
    void send(const std::string& bytes) {
        std::lock_guard g(state_->lock);
        state_->toPort.insert(state_->toPort.end(), bytes.begin(), bytes.end());
    }

    // Waits until `count` written bytes arrived or `ms` passed; returns what came.
    std::string receive(std::size_t count, int ms = 3000) {
        std::unique_lock g(state_->lock);
        state_->written.wait_for(g, std::chrono::milliseconds(ms), [&] { return state_->toFar.size() >= count; });
        return takeLocked(std::min(count, state_->toFar.size()));
    }

    // One command up to and including its carriage return, or "" after `ms`
    // (the part that came stays for the next call).
    std::string receiveCommand(int ms = 3000) {
        std::unique_lock g(state_->lock);
        auto end = state_->toFar.end();
        state_->written.wait_for(g, std::chrono::milliseconds(ms), [&] {
            end = std::find(state_->toFar.begin(), state_->toFar.end(), '\r');
            return end != state_->toFar.end();
        });
        if (end == state_->toFar.end()) return "";
        return takeLocked(static_cast<std::size_t>(end - state_->toFar.begin()) + 1);
    }

    // Everything written within `ms` milliseconds.
    std::string drain(int ms) {
        std::unique_lock g(state_->lock);
        state_->written.wait_for(g, std::chrono::milliseconds(ms), [] { return false; });
        return takeLocked(state_->toFar.size());
    }

private:
    struct State {
        std::string name;
        std::mutex lock;
        std::condition_variable written;  // toFar grew
        std::deque<char> toFar;           // written by the port, not yet received
        std::deque<char> toPort;          // sent to the port, not yet read
        Answer answer;
        bool hungUp = false;
    };

    std::string takeLocked(std::size_t n) {
        std::string out(state_->toFar.begin(), state_->toFar.begin() + static_cast<std::ptrdiff_t>(n));
        state_->toFar.erase(state_->toFar.begin(), state_->toFar.begin() + static_cast<std::ptrdiff_t>(n));
        return out;
    }

    // Writes land on the line whole, reads take what has arrived and never
    // wait; the modem lines read as off and setting them does nothing.
    class Port : public SerialPort {
    public:
        explicit Port(std::shared_ptr<State> s) : s_(std::move(s)), config_(s_->name) {}

        void setConfig(const SerialConfig& cfg) override { config_ = cfg; }
        SerialConfig getConfig() const override { return config_; }
        void configure(const SerialConfig& cfg) override { config_ = cfg; }
        void open() override {
            std::lock_guard g(s_->lock);
            if (s_->hungUp) throw SerialIOException("Unable to open port");
            open_ = true;
        }
        void close() override { open_ = false; }
        bool isOpen() const override { return open_; }
        int lastError() const override { return lastError_; }

        void putByte(std::uint8_t b) override { write(std::string(1, static_cast<char>(b))); }
        void putString(const std::string& text) override { write(text); }
        void putData(std::span<const std::uint8_t> bytes) override {
            write(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        }
        void putData(std::span<const std::uint8_t> bytes, int count) override {
            putData(bytes.first(clamp(count, bytes.size())));
        }
        void putData(std::span<const std::uint8_t> bytes, int offset, int count) override {
            putData(bytes.subspan(clamp(offset, bytes.size())), count);
        }
        int getByte() override {
            std::uint8_t b = 0;
            return getData(std::span<std::uint8_t>(&b, 1)) == 1 ? b : -1;
        }
        int getData(std::span<std::uint8_t> bytes) override {
            requireOpen();
            std::lock_guard g(s_->lock);
            const std::size_t n = std::min(bytes.size(), s_->toPort.size());
            std::copy_n(s_->toPort.begin(), n, bytes.begin());
            s_->toPort.erase(s_->toPort.begin(), s_->toPort.begin() + static_cast<std::ptrdiff_t>(n));
            return static_cast<int>(n);
        }
        int getData(std::span<std::uint8_t> bytes, int offset, int length) override {
            auto rest = bytes.subspan(clamp(offset, bytes.size()));
            return getData(rest.first(clamp(length, rest.size())));
        }
        int rxFlush() override {
            std::lock_guard g(s_->lock);
            s_->toPort.clear();
            return 0;
        }
        int txFlush() override { return 0; }
        int txDrain() override { return 0; }
        int rxReadyCount() override {
            requireOpen();
            std::lock_guard g(s_->lock);
            if (s_->hungUp) {
                lastError_ = EIO;
                throw SerialIOException("Input/output error");
            }
            return static_cast<int>(s_->toPort.size());
        }
        int txBufCount() override { return 0; }
        bool rxOverflow() override { return false; }
        bool sigDSR() override { return false; }
        bool sigCTS() override { return false; }
        bool sigCD() override { return false; }
        bool sigFrameErr() override { return false; }
        bool sigOverrun() override { return false; }
        bool sigParityErr() override { return false; }
        bool sigRing() override { return false; }
        bool sigBreak() override { return false; }
        void setDTR(bool) override {}
        void setRTS(bool) override {}
        void sendBreak(int) override {}
        int getTimeoutRx() override { return timeoutRx_; }
        int getTimeoutTx() override { return timeoutTx_; }
        void setTimeoutRx(int ms) override { timeoutRx_ = ms; }
        void setTimeoutTx(int ms) override { timeoutTx_ = ms; }
        int getLibVer() override { return 0; }
        int getPortNum() const override { return open_ ? 0 : -1; }
        void setName(const std::string& name) override { name_ = name; }
        std::string getName() const override { return name_; }

    private:
        static std::size_t clamp(int v, std::size_t size) {
            return std::min(static_cast<std::size_t>(std::max(v, 0)), size);
        }
        void requireOpen() const {
            if (!open_) throw SerialIOException("Port not open");
        }
        void write(const std::string& bytes) {
            requireOpen();
            {
                std::lock_guard g(s_->lock);
                if (s_->hungUp) {
                    lastError_ = EIO;
                    throw SerialIOException("Input/output error");
                }
                s_->toFar.insert(s_->toFar.end(), bytes.begin(), bytes.end());
                if (s_->answer) {
                    const std::string reply = s_->answer(bytes);
                    s_->toPort.insert(s_->toPort.end(), reply.begin(), reply.end());
                }
            }
            s_->written.notify_all();
        }

        std::shared_ptr<State> s_;
        SerialConfig config_;
        bool open_ = true;
        int lastError_ = 0;
        int timeoutRx_ = 0;
        int timeoutTx_ = 0;
        std::string name_ = "Serial Port";
    };

    std::shared_ptr<State> state_;
};

}  // namespace morvia::test

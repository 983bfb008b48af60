// The flow-control thread of a port whose flow control is done by a library
// task (one platform only): calls the library's flow task for the port over
// and over until stopped.
//
// Thread-safety: start/stop/join belong to the owning port object; the
// priority accessors may be called from any thread.
#pragma once

#include <atomic>
#include <thread>

namespace morvia {

class SerialPortLocal;

class FlowControlTask {
public:
    // Keeps the port and its port number; prints "FlowControlTask created".
    explicit FlowControlTask(SerialPortLocal& sp);
    ~FlowControlTask();  // stops and joins
    FlowControlTask(const FlowControlTask&) = delete;
    FlowControlTask& operator=(const FlowControlTask&) = delete;

    void start();
    // Ends the loop after the current pass and joins the thread.
    void stop() noexcept;
    bool running() const { return thread_.joinable(); }

    // Nice value of the task's thread (lower is more urgent); applied when
    // the thread runs and the system allows it.
    void setFlowPriority(int priority);
    int getFlowPriority() const { return priority_.load(); }

private:
    void run();

    SerialPortLocal& sp_;
    int portNum_;
    std::atomic<bool> stop_{false};
    std::atomic<int> priority_{0};
    std::atomic<int> tid_{0};
    std::thread thread_;
};

} // namespace morvia

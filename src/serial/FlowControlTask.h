// The flow-control thread of a port whose flow control is done by a library
// task (one platform only): calls the library's flow task for the port over
// and over until stopped.
//
// Thread-safety: start/stop belong to the owning port object (never the
// task's own thread: that ends the process with a message); the priority
// accessors may be called from any thread.
#pragma once

#include <atomic>

#include "startup/Worker.h"

namespace morvia {

class SerialPortLocal;

class FlowControlTask {
public:
    // Keeps the port and its port number; prints "FlowControlTask created".
    explicit FlowControlTask(SerialPortLocal& sp);
    ~FlowControlTask();  // stops and joins
    FlowControlTask(const FlowControlTask&) = delete;
    FlowControlTask& operator=(const FlowControlTask&) = delete;

    // Starts the task's thread; a second call does nothing.
    void start();
    // Ends the loop after the current pass and joins the thread.
    void stop() noexcept;
    bool running() const { return worker_.running(); }

    // Nice value of the task's thread (lower is more urgent); applied when
    // the thread runs and the system allows it.
    void setFlowPriority(int priority);
    int getFlowPriority() const { return priority_.load(); }

private:
    void run(std::stop_token token);

    SerialPortLocal& sp_;
    int portNum_;
    std::atomic<int> priority_{0};
    std::atomic<int> tid_{0};
    Worker worker_{"flow control"};
};

}  // namespace morvia

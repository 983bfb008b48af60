#include "serial/FlowControlTask.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "serial/SerialPortLocal.h"
#include "startup/Utils.h"

namespace morvia {

FlowControlTask::FlowControlTask(SerialPortLocal& sp) : sp_(sp), portNum_(sp.getPortNum()) {
    Utils::OutLine("FlowControlTask created");
}

FlowControlTask::~FlowControlTask() { stop(); }

void FlowControlTask::start() {
    worker_.start([this](std::stop_token token) { run(token); });
}

void FlowControlTask::stop() noexcept { worker_.stop(); }

void FlowControlTask::setFlowPriority(int priority) {
    priority_.store(priority);
    int tid = tid_.load();
    if (tid != 0) ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), priority);  // refusal keeps the old one
}

void FlowControlTask::run(std::stop_token token) {
    int tid = static_cast<int>(::syscall(SYS_gettid));
    tid_.store(tid);
    // One step more urgent than the thread that started it, where allowed.
    int base = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), base - 1) == 0) priority_.store(base - 1);
    else priority_.store(base);
    while (!token.stop_requested()) sp_.library().SerFlowTask(portNum_);
}

}  // namespace morvia

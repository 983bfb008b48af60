#include "player/ControllerSeams.h"

namespace morvia {

void ControllerSeams::setLoggerFactory(LoggerFactory make) {
    std::lock_guard g(lock_);
    makeLogger_.swap(make);  // the old factory goes after the lock
}

bool ControllerSeams::openLogger() {
    LoggerFactory make;
    {
        std::lock_guard g(lock_);
        if (loggergui) return false;  // one logger window at a time
        make = makeLogger_;
    }
    if (!make) return false;
    auto logger = make();  // outside the lock: the window may call back
    if (!logger) return false;
    {
        std::lock_guard g(lock_);
        loggergui.swap(logger);
    }
    // What `logger` holds now (a window another caller opened meanwhile) is
    // released here, outside the lock.
    return true;
}

void ControllerSeams::closeLogger() {
    std::shared_ptr<LoggerSeam> old;
    {
        std::lock_guard g(lock_);
        old.swap(loggergui);
    }
    // `old` is released here, outside the lock.
}

std::shared_ptr<LoggerSeam> ControllerSeams::logger() const {
    std::lock_guard g(lock_);
    return loggergui;
}

void ControllerSeams::setClient(std::shared_ptr<ClientSeam> client) {
    {
        std::lock_guard g(lock_);
        connectthread.swap(client);
    }
    // The previous client is released here, outside the lock: its last
    // owner's destructor may join a connection thread.
}

std::shared_ptr<ClientSeam> ControllerSeams::client() const {
    std::lock_guard g(lock_);
    return connectthread;
}

}  // namespace morvia

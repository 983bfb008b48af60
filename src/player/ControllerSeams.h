// The controller's seams to other layers: the factory of the logger window,
// the open logger window and the network client that receives query answers.
//
// Thread-safety: every member may be called from any thread. One lock guards
// the three; the factory and a window's release run outside it, since a
// window may call back into the controller.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "player/Seams.h"

namespace morvia {

class ControllerSeams {
public:
    using LoggerFactory = std::function<std::shared_ptr<LoggerSeam>()>;

    void setLoggerFactory(LoggerFactory make);
    // Opens a logger window through the factory unless one is open (or there
    // is no factory). True when a window was opened.
    bool openLogger();
    // Forgets the open logger window and releases it.
    void closeLogger();
    std::shared_ptr<LoggerSeam> logger() const;
    void setClient(std::shared_ptr<ClientSeam> client);
    std::shared_ptr<ClientSeam> client() const;

private:
    mutable std::mutex lock_;  // guards the three fields below
    LoggerFactory makeLogger_;
    std::shared_ptr<LoggerSeam> loggergui;
    std::shared_ptr<ClientSeam> connectthread;
};

}  // namespace morvia

// Seams through which the controller reaches components that live in other
// subsystems (the logger window, a network client, the edit-controller port).
#pragma once

#include <memory>
#include <string>

namespace morvia {

class LocalVCR;
class Display;

// An open logger window, as the controller and the edit-controller port see it.
class LoggerSeam {
public:
    virtual ~LoggerSeam() = default;
    virtual void setin() = 0;
    virtual void setout() = 0;
};

// A connected network client that receives query answers.
class ClientSeam {
public:
    virtual ~ClientSeam() = default;
    virtual void Send(const std::string& line) = 0;
};

// The edit-controller serial port, built during controller construction when
// the edit-controller switch is on.
class EditPortSeam {
public:
    virtual ~EditPortSeam() = default;
    virtual bool opened() const = 0;  // its serial port opened
    virtual void setlocalvcr(LocalVCR* vcr) = 0;
    virtual void setlocalgui(Display* gui) = 0;
    virtual void setwait(int ms) = 0;
    virtual void setsleeptime(int ms) = 0;
    virtual void start() = 0;
    virtual void stopme() = 0;  // ends and joins its thread
};

}  // namespace morvia

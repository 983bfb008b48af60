// Saves the settings tests change and puts them back when it goes: the one
// guard every test that writes a Quenta setting holds.
#pragma once

#include <optional>
#include <string>

#include "startup/Quenta.h"

namespace morvia::test {

class SettingsGuard {
public:
    SettingsGuard() = default;
    ~SettingsGuard() {
        Quenta::verbose = verbose_;
        Quenta::note = note_;
        Quenta::name = name_;
        Quenta::comport1 = comport1_;
        Quenta::comport2 = comport2_;
        Quenta::OSString = os_;
        Quenta::startingtitle = startingtitle_;
        Quenta::starttitle = starttitle_;
        Quenta::useclipboard = useclipboard_;
        Quenta::repeatval.store(repeatval_);
        Quenta::mcs = mcs_;
        Quenta::ControlServer = controlServer_;
    }
    SettingsGuard(const SettingsGuard&) = delete;
    SettingsGuard& operator=(const SettingsGuard&) = delete;

private:
    bool verbose_ = Quenta::verbose;
    std::string note_ = Quenta::note;
    std::string name_ = Quenta::name;
    std::string comport1_ = Quenta::comport1;
    std::string comport2_ = Quenta::comport2;
    std::string os_ = Quenta::OSString;
    std::string startingtitle_ = Quenta::startingtitle;
    int starttitle_ = Quenta::starttitle;
    bool useclipboard_ = Quenta::useclipboard;
    int repeatval_ = Quenta::repeatval.load();
    bool mcs_ = Quenta::mcs;
    std::optional<std::string> controlServer_ = Quenta::ControlServer;
};

}  // namespace morvia::test

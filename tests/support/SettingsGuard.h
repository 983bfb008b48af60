// Saves the current settings (with the live repeat count and password and the
// edition title) and puts them back when it goes: the one guard every test
// holds that changes the current settings or builds an App from a value of
// its own.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "startup/Quenta.h"

namespace morvia::test {

class SettingsGuard {
public:
    SettingsGuard() = default;
    ~SettingsGuard() {
        Quenta::use(settings_);
        Quenta::setrepeatval(repeatval_);
        Quenta::setpassword(password_);
        Quenta::name = name_;
    }
    SettingsGuard(const SettingsGuard&) = delete;
    SettingsGuard& operator=(const SettingsGuard&) = delete;

    // Changes one field of the current settings, keeping the live repeat
    // count and password; before the threads that read it start.
    template <class T, class V>
    void set(T Settings::*field, V&& value) {
        Settings s = Quenta::settings();
        s.*field = std::forward<V>(value);
        const int repeat = Quenta::getrepeatval();
        const std::string password = Quenta::getpassword();
        Quenta::use(s);
        Quenta::setrepeatval(repeat);
        Quenta::setpassword(password);
    }

private:
    Settings settings_ = Quenta::settings();
    int repeatval_ = Quenta::getrepeatval();
    std::string password_ = Quenta::getpassword();
    std::string name_ = Quenta::name;
};

}  // namespace morvia::test

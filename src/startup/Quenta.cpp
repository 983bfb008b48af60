#include "startup/Quenta.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

#include "startup/TextFiles.h"
#include "startup/Utils.h"

namespace morvia {
namespace {

std::mutex& passwordLock() {
    static std::mutex m;
    return m;
}

std::string& passwordValue() {
    static std::string p = Settings().password;
    return p;
}

// The whole file, or false with `error` set when it cannot be read. Only a
// regular file is read: a FIFO or a device would hold start-up for ever.
bool readWhole(const std::string& path, std::string& out, std::string& error) {
    const text::Opened opened = text::openRegular(path);
    if (opened.status != text::Opened::Status::ok) {
        error = opened.reason;
        return false;
    }
    char buf[65536];
    bool ok = true;
    while (true) {
        const long n = text::readSome(opened.fd.get(), buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
        } else {
            if (n < 0) {
                error = std::strerror(errno);
                ok = false;
            }
            break;
        }
    }
    // The descriptor closes here; a failing close changes nothing that was read.
    return ok;
}

}  // namespace

std::string Quenta::getpassword() {
    std::lock_guard g(passwordLock());
    return passwordValue();
}

void Quenta::setpassword(const std::string& p) {
    std::lock_guard g(passwordLock());
    passwordValue() = p;
}

void Quenta::use(const Settings& s) {
    current_ = s;
    repeatval.store(s.repeatval);
    setpassword(s.password);
}

void Quenta::resetDefaults() {
    use(Settings());
    propsfilename = "Settings.txt";
    name.clear();
}

Settings Quenta::GetProps() {
    std::error_code ec;
    if (!std::filesystem::exists(propsfilename, ec)) {
        Utils::OutLine("No configuration file found!");
        Utils::FailAndExit(5000, 1);
    }
    std::string bytes;
    std::string error;
    if (!readWhole(propsfilename, bytes, error)) {
        // Start-up goes on with the built-in values; say why they are used.
        Utils::OutLine("Unable to read " + propsfilename + ": " + error);
        return Settings();
    }
    SettingsRead read = readSettings(bytes, propsfilename);
    for (const std::string& line : read.missing) Utils::OutLine(line);
    if (read.error) {
        Utils::OutLine(*read.error);
        Utils::FailAndExit(5000, 1);
    }
    return std::move(read.settings);
}

void Quenta::MakeSerial(const Hooks& hooks) {
    const std::string& comport1 = current_.comport1;
    bool ok = hooks.makeSerial && hooks.makeSerial(comport1);
    if (!ok) Utils::FailAndExit(5000, 0);
    Utils::OutLine("Serial Port " + comport1 + " Opened OK");
    if (hooks.setwait) hooks.setwait(30);
}

void Quenta::showprops() {
    auto text = [](const std::optional<std::string>& v) { return v ? *v : std::string("null"); };
    const Settings& s = current_;
    Utils::OutLine(" ");
    Utils::OutLine("SETTINGS:");
    Utils::OutLine("User Note        = " + s.note);
    Utils::OutLine("DVD Type         = " + text(s.VCRType));
    Utils::OutLine("DVD COM Port     = " + s.comport1);
    Utils::OutLine("Verbose          = " + s.verbo);
    Utils::OutLine("Starting Title   = " + s.startingtitle);
    Utils::OutLine("Time Code Offset = " + s.OSString);
    Utils::OutLine("Use Clipboard    = " + text(s.UseClipboard));
    Utils::OutLine("Stop On Exit     = " + text(s.StopOnExit));
    Utils::OutLine("Control Server   = " + s.ControlServer.value_or("off"));
    Utils::OutLine("HyperDeck Server = " + s.HyperDeckServer.value_or("off"));
    if (s.SessionLog && !s.SessionLog->empty()) Utils::OutLine("Session Log      = " + *s.SessionLog);
}

void Quenta::init(const Hooks& hooks) {
    use(GetProps());
    start(hooks);
}

void Quenta::start(const Hooks& hooks) {
    Utils::OutLine("Morvia/Lintra");
    Utils::OutLine("");
    MakeSerial(hooks);
    name = "Morvia";
    Utils::OutLine("");
    Utils::OutLine(name);
    showprops();
    Utils::OutLine("");
    if (hooks.makeController) hooks.makeController();
}

}  // namespace morvia

#include "startup/Quenta.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

#include "startup/SettingsReader.h"
#include "startup/TextFiles.h"
#include "startup/Utils.h"

namespace morvia {
namespace {

std::mutex& passwordLock() {
    static std::mutex m;
    return m;
}

std::string& passwordValue() {
    static std::string p = "KWJ";
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

// A decimal whole number, optionally signed, that fits 32 bits.
bool parseWhole(const std::string& text, int& value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    long long v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) return false;
    }
    if (negative) v = -v;
    if (v > INT_MAX || v < INT_MIN) return false;
    value = static_cast<int>(v);
    return true;
}

// The value of `key`, or null after one console line naming the missing key.
const std::string* lookup(const char* key) {
    auto it = Quenta::props.find(key);
    if (it != Quenta::props.end()) return &it->second;
    Utils::OutLine(std::string("Setting ") + key + " missing from " + Quenta::propsfilename +
                   ", using the built-in value");
    return nullptr;
}

} // namespace

std::string Quenta::getpassword() {
    std::lock_guard g(passwordLock());
    return passwordValue();
}

void Quenta::setpassword(const std::string& p) {
    std::lock_guard g(passwordLock());
    passwordValue() = p;
}

void Quenta::resetDefaults() {
    propsfilename = "Settings.txt";
    props.clear();
    verbo = "NO";
    verbose = false;
    note = "Morvia";
    comport1 = "COM1";
    comport2 = "COM2";
    VCRType.reset();
    OSString = "00:00:00:00";
    startingtitle = "1";
    starttitle = 1;
    UseClipboard.reset();
    useclipboard = false;
    StopOnExit.reset();
    stoponexit = false;
    socketport = 2001;
    repeatval.store(2);
    mcs = false;
    width = 320;
    fontheight = 13;
    autoenable = false;
    name.clear();
    setpassword("KWJ");
}

void Quenta::GetProps() {
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
        return;
    }
    props = SettingsReader::parse(bytes);

    socketport = 2001;
    note = "Morvia";
    mcs = false;
    repeatval.store(2);
    verbose = false;

    if (const std::string* v = lookup("Verbose")) {
        verbo = *v;
        verbose = *v == "YES";
    }
    if (const std::string* v = lookup("UserNote")) {
        note = SettingsReader::utf8Length(*v) > 15 ? SettingsReader::utf8Prefix(*v, 15) : *v;
    }
    if (const std::string* v = lookup("DVDCOMPort")) comport1 = *v;
    VCRType = "DVD V7400";
    if (const std::string* v = lookup("TCOffset")) OSString = *v;
    if (const std::string* v = lookup("StartTitle")) {
        int n = 0;
        if (!parseWhole(*v, n)) {
            Utils::OutLine("Setting StartTitle is not a whole number: " + *v);
            Utils::FailAndExit(5000, 1);
        }
        startingtitle = *v;
        starttitle = n;
        if (n < 1) {
            starttitle = 1;
            startingtitle = "1";
        }
    }
    if (const std::string* v = lookup("UseClipboard")) {
        UseClipboard = *v;
        useclipboard = *v == "YES";
    }
    if (const std::string* v = lookup("StopOnExit")) {
        StopOnExit = *v;
        stoponexit = *v == "YES";
    }
}

void Quenta::MakeSerial(const Hooks& hooks) {
    bool ok = hooks.makeSerial && hooks.makeSerial(comport1);
    if (!ok) Utils::FailAndExit(5000, 0);
    Utils::OutLine("Serial Port " + comport1 + " Opened OK");
    if (hooks.setwait) hooks.setwait(30);
}

void Quenta::showprops() {
    auto text = [](const std::optional<std::string>& v) { return v ? *v : std::string("null"); };
    Utils::OutLine(" ");
    Utils::OutLine("SETTINGS:");
    Utils::OutLine("User Note        = " + note);
    Utils::OutLine("DVD Type         = " + text(VCRType));
    Utils::OutLine("DVD COM Port     = " + comport1);
    Utils::OutLine("Verbose          = " + verbo);
    Utils::OutLine("Starting Title   = " + startingtitle);
    Utils::OutLine("Time Code Offset = " + OSString);
    Utils::OutLine("Use Clipboard    = " + text(UseClipboard));
    Utils::OutLine("Stop On Exit     = " + text(StopOnExit));
}

void Quenta::init(const Hooks& hooks) {
    GetProps();
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

} // namespace morvia

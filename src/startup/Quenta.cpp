#include "startup/Quenta.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

#include "startup/Decimal.h"
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
    static std::string p = SettingDefaults::password;
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

// The value of `key`, or null after one console line naming the missing key.
const std::string* lookup(const char* key) {
    auto it = Quenta::props.find(key);
    if (it != Quenta::props.end()) return &it->second;
    Utils::OutLine(std::string("Setting ") + key + " missing from " + Quenta::propsfilename +
                   ", using the built-in value");
    return nullptr;
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

void Quenta::resetDefaults() {
    propsfilename = D::propsfilename;
    props.clear();
    verbo = D::verbo;
    verbose = D::verbose;
    note = D::note;
    comport1 = D::comport1;
    comport2 = D::comport2;
    VCRType.reset();
    OSString = D::OSString;
    startingtitle = D::startingtitle;
    starttitle = D::starttitle;
    UseClipboard.reset();
    useclipboard = D::useclipboard;
    StopOnExit.reset();
    stoponexit = D::stoponexit;
    socketport = D::socketport;
    repeatval.store(D::repeatval);
    mcs = D::mcs;
    width = D::width;
    fontheight = D::fontheight;
    autoenable = D::autoenable;
    name.clear();
    setpassword(D::password);
    sessionlog = D::sessionlog;
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

    // These start from their built-in values on every read.
    socketport = D::socketport;
    note = D::note;
    mcs = D::mcs;
    repeatval.store(D::repeatval);
    verbose = D::verbose;

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
        const std::optional<int> parsed = ParseDecimal(*v, DecimalSign::plusOrMinus);
        if (!parsed) {
            Utils::OutLine("Setting StartTitle is not a whole number: " + *v);
            Utils::FailAndExit(5000, 1);
        }
        const int n = *parsed;
        startingtitle = *v;
        starttitle = n;
        if (n < 1) {
            starttitle = D::starttitle;
            startingtitle = D::startingtitle;
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
    // SessionLog: optional, so an absent key prints nothing.
    const auto sessionLogKey = props.find("SessionLog");
    sessionlog = sessionLogKey != props.end() ? sessionLogKey->second : D::sessionlog;
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
    if (!sessionlog.empty()) Utils::OutLine("Session Log      = " + sessionlog);  // SessionLog
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

}  // namespace morvia

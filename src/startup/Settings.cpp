#include "startup/Settings.h"

#include "startup/Decimal.h"
#include "startup/SettingsReader.h"

namespace morvia {

SettingsRead readSettings(std::string_view text, std::string_view fileName) {
    SettingsRead read;
    Settings& s = read.settings;
    s.props = SettingsReader::parse(text);

    // The value of `key`, or null after a line naming the missing key.
    const auto lookup = [&](const char* key) -> const std::string* {
        auto it = s.props.find(key);
        if (it != s.props.end()) return &it->second;
        read.missing.push_back(std::string("Setting ") + key + " missing from " + std::string(fileName) +
                               ", using the built-in value");
        return nullptr;
    };
    // A key whose value is taken as written.
    const auto textKey = [&](const char* key, auto& field) {
        if (const std::string* v = lookup(key)) field = *v;
    };
    // A key that switches a flag on when it is exactly YES.
    const auto flagKey = [&](const char* key, auto& written, bool& flag) {
        if (const std::string* v = lookup(key)) {
            written = *v;
            flag = *v == "YES";
        }
    };

    flagKey("Verbose", s.verbo, s.verbose);
    if (const std::string* v = lookup("UserNote")) {
        s.note = SettingsReader::utf8Length(*v) > 15 ? SettingsReader::utf8Prefix(*v, 15) : *v;
    }
    textKey("DVDCOMPort", s.comport1);
    s.VCRType = "DVD V7400";
    textKey("TCOffset", s.OSString);
    if (const std::string* v = lookup("StartTitle")) {
        const std::optional<int> parsed = ParseDecimal(*v, DecimalSign::plusOrMinus);
        if (!parsed) {
            read.error = "Setting StartTitle is not a whole number: " + *v;
            return read;
        }
        if (*parsed >= 1) {
            s.startingtitle = *v;
            s.starttitle = *parsed;
        }
    }
    flagKey("UseClipboard", s.UseClipboard, s.useclipboard);
    flagKey("StopOnExit", s.StopOnExit, s.stoponexit);
    // Keys that are off when absent, so an absent one is not named.
    const auto optionalKey = [&](const char* key, std::optional<std::string>& field) {
        if (auto it = s.props.find(key); it != s.props.end()) field = it->second;
    };
    optionalKey("ControlServer", s.ControlServer);
    optionalKey("HyperDeckServer", s.HyperDeckServer);
    optionalKey("SessionLog", s.SessionLog);
    return read;
}

}  // namespace morvia

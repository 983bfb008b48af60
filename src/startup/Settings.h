// The program's settings as one value: every setting a field holding its
// built-in value, and the pure reading of the settings file's text into such
// a value.
//
// The App is built from a Settings value and makes it the current one
// (Quenta::use) before any other thread exists; code reads it through
// Quenta::settings() and the accessors there. Tests build a value and pass
// it, or change the current one through test::SettingsGuard.
//
// Adding a setting: a field below with its built-in value, and its key in
// readSettings (Settings.cpp), one line for a text.
//
// Pure value and functions: any thread.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvia {

struct Settings {
    std::string verbo = "NO";  // Verbose as written
    bool verbose = false;      // Verbose is exactly YES
    std::string note = "Morvia";
    std::string comport1 = "COM1";
    std::string comport2 = "COM2";
    std::optional<std::string> VCRType;  // absent prints "null"
    std::string OSString = "00:00:00:00";
    std::string startingtitle = "1";
    int starttitle = 1;
    std::optional<std::string> UseClipboard;  // as written; absent prints "null"
    bool useclipboard = false;
    std::optional<std::string> StopOnExit;  // as written; absent prints "null"
    bool stoponexit = false;
    int socketport = 2001;
    // The values the two changeable settings start with (Quenta holds the
    // live ones).
    int repeatval = 2;
    std::string password = "KWJ";
    bool mcs = false;
    int width = 320;
    int fontheight = 13;
    bool autoenable = false;
    // Network listeners, ADDRESS:PORT or a bare PORT (on 127.0.0.1) as
    // written; absent means off.
    std::optional<std::string> ControlServer;
    std::optional<std::string> HyperDeckServer;
    // The session log's folder as written; absent or empty: no log.
    std::optional<std::string> SessionLog;
    // Every key and value of the file as read, unknown keys included.
    std::map<std::string, std::string> props;
};

// What reading the settings file's text gave.
struct SettingsRead {
    Settings settings;
    // Console lines about keys the file lacks, in the order they are read.
    std::vector<std::string> missing;
    // Set when a value makes start-up impossible: the console line to print
    // (after `missing`) before the program ends.
    std::optional<std::string> error;
};

// The settings in `text` (the file's bytes), starting from the built-in
// values; `fileName` names the file in the console lines.
SettingsRead readSettings(std::string_view text, std::string_view fileName);

}  // namespace morvia

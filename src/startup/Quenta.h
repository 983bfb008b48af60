// The application class: the current settings (startup/Settings.h), read
// from Settings.txt, and the start-up sequence.
//
// Thread-safety: the current settings are set before any other thread exists
// and are read-only afterwards, except `repeatval` (changed by the command
// language) and `password`, which are atomic / locked. `name` is written by
// start-up before the window shows it.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "startup/Settings.h"

namespace morvia {

class Quenta {
public:
    // --- settings ---
    // The current settings. Set by the App (use) before any other thread
    // exists and read-only afterwards; only `repeatval` and the password
    // change later, through their own thread-safe accessors.
    static const Settings& settings() { return current_; }
    // Makes `s` the current settings, the live repeat count and password
    // included. Not while other threads read the settings.
    static void use(const Settings& s);
    // The file GetProps reads (tests point it elsewhere).
    static inline std::string propsfilename = "Settings.txt";
    static inline std::string name;  // edition title, "Morvia" after start-up

    // --- accessors ---
    static bool getverbose() { return current_.verbose; }
    static int getrepeatval() { return repeatval.load(); }
    static void setrepeatval(int n) { repeatval.store(n); }
    static bool getdebug() { return false; }
    static bool getnet() { return false; }
    static bool getmcs() { return current_.mcs; }
    static int getsocketport() { return current_.socketport; }
    static bool getstoponexit() { return current_.stoponexit; }
    static std::string getoffset() { return current_.OSString; }
    static bool getuseclipboard() { return current_.useclipboard; }
    static int getwidth() { return current_.width; }
    static std::string getpassword();
    static void setpassword(const std::string& p);
    static int getfontheight() { return current_.fontheight; }
    static bool getautoenable() { return current_.autoenable; }
    // The session log's folder; empty when there is no log.
    static std::string getsessionlog() { return current_.SessionLog.value_or(""); }

    // Puts the built-in settings back, the file name and title too (tests).
    static void resetDefaults();

    // --- start-up ---
    // What start-up needs from the subsystems above it; the App fills them
    // (App::startupHooks).
    struct Hooks {
        // Opens the player command port on the named port. Returns false when
        // the port is bad (the port object has printed its own messages).
        std::function<bool(const std::string& port)> makeSerial;
        // Sets the port's reply wait (ms) once it opened.
        std::function<void(int ms)> setwait;
        // Builds the controller (blocks through the start-up dialogue). When
        // empty, start-up ends after the settings block.
        std::function<void()> makeController;
    };

    // The settings in the file `propsfilename` (the built-in values when it
    // cannot be read, after a console line saying why); missing keys are
    // named on the console. May end the process (status 1).
    static Settings GetProps();
    // Opens the player command port; may end the process (status 0).
    static void MakeSerial(const Hooks& hooks);
    // Prints the settings block.
    static void showprops();
    // The whole start-up sequence: GetProps made current, then start.
    static void init(const Hooks& hooks);
    // Start-up on the current settings: banner, port, settings block,
    // controller.
    static void start(const Hooks& hooks);

private:
    static inline Settings current_;
    static inline std::atomic<int> repeatval{Settings().repeatval};
};

}  // namespace morvia

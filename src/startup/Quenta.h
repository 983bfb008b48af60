// The application class: global settings read from Settings.txt and the
// start-up sequence.
//
// Thread-safety: settings are written on the start-up thread before any other
// thread exists and are read-only afterwards, except `repeatval` (changed by
// the command language) and `password`, which are atomic / locked.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace morvia {

class Quenta {
public:
    // --- settings (class-wide) ---
    static inline std::string propsfilename = "Settings.txt";
    static inline std::map<std::string, std::string> props;
    static inline std::string verbo = "NO";
    static inline bool verbose = false;
    static inline std::string note = "Morvia";
    static inline std::string comport1 = "COM1";
    static inline std::string comport2 = "COM2";
    static inline std::optional<std::string> VCRType;        // absent prints "null"
    static inline std::string OSString = "00:00:00:00";
    static inline std::string startingtitle = "1";
    static inline int starttitle = 1;
    static inline std::optional<std::string> UseClipboard;
    static inline bool useclipboard = false;
    static inline std::optional<std::string> StopOnExit;
    static inline bool stoponexit = false;
    static inline int socketport = 2001;
    static inline std::atomic<int> repeatval{2};
    static inline bool mcs = false;
    static inline int width = 320;
    static inline int fontheight = 13;
    static inline bool autoenable = false;
    static inline std::string name;  // edition title, "Morvia" after start-up

    // --- accessors ---
    static bool getverbose() { return verbose; }
    static int getrepeatval() { return repeatval.load(); }
    static void setrepeatval(int n) { repeatval.store(n); }
    static bool getdebug() { return false; }
    static bool getnet() { return false; }
    static bool getmcs() { return mcs; }
    static int getsocketport() { return socketport; }
    static bool getstoponexit() { return stoponexit; }
    static std::string getoffset() { return OSString; }
    static bool getuseclipboard() { return useclipboard; }
    static int getwidth() { return width; }
    static std::string getpassword();
    static void setpassword(const std::string& p);
    static int getfontheight() { return fontheight; }
    static bool getautoenable() { return autoenable; }

    // Puts every setting back to its built-in value (tests).
    static void resetDefaults();

    // --- start-up ---
    // What start-up needs from the subsystems above it; main() wires them.
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

    // Reads the settings file; may end the process (status 1).
    static void GetProps();
    // Opens the player command port; may end the process (status 0).
    static void MakeSerial(const Hooks& hooks);
    // Prints the settings block.
    static void showprops();
    // The whole start-up sequence: GetProps, then start.
    static void init(const Hooks& hooks);
    // Start-up after the settings were read: banner, port, settings block,
    // controller.
    static void start(const Hooks& hooks);
};

} // namespace morvia

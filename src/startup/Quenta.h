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

// The built-in value of each setting: what a setting holds before the
// settings file is read, after a reset, and when the file lacks its key.
struct SettingDefaults {
    static constexpr const char* propsfilename = "Settings.txt";
    static constexpr const char* verbo = "NO";
    static constexpr bool verbose = false;
    static constexpr const char* note = "Morvia";
    static constexpr const char* comport1 = "COM1";
    static constexpr const char* comport2 = "COM2";
    static constexpr const char* OSString = "00:00:00:00";
    static constexpr const char* startingtitle = "1";
    static constexpr int starttitle = 1;
    static constexpr bool useclipboard = false;
    static constexpr bool stoponexit = false;
    static constexpr int socketport = 2001;
    static constexpr int repeatval = 2;
    static constexpr bool mcs = false;
    static constexpr int width = 320;
    static constexpr int fontheight = 13;
    static constexpr bool autoenable = false;
    static constexpr const char* password = "KWJ";
    // SessionLog: the session log's folder; empty (absent) is no log.
    static constexpr const char* sessionlog = "";
};

class Quenta {
public:
    // --- settings (class-wide) ---
    using D = SettingDefaults;
    static inline std::string propsfilename = D::propsfilename;
    static inline std::map<std::string, std::string> props;
    static inline std::string verbo = D::verbo;
    static inline bool verbose = D::verbose;
    static inline std::string note = D::note;
    static inline std::string comport1 = D::comport1;
    static inline std::string comport2 = D::comport2;
    static inline std::optional<std::string> VCRType;  // absent prints "null"
    static inline std::string OSString = D::OSString;
    static inline std::string startingtitle = D::startingtitle;
    static inline int starttitle = D::starttitle;
    static inline std::optional<std::string> UseClipboard;
    static inline bool useclipboard = D::useclipboard;
    static inline std::optional<std::string> StopOnExit;
    static inline bool stoponexit = D::stoponexit;
    static inline int socketport = D::socketport;
    static inline std::atomic<int> repeatval{D::repeatval};
    static inline bool mcs = D::mcs;
    static inline int width = D::width;
    static inline int fontheight = D::fontheight;
    static inline bool autoenable = D::autoenable;
    static inline std::string name;  // edition title, "Morvia" after start-up
    // SessionLog: the folder of the session log, empty for none.
    static inline std::string sessionlog = D::sessionlog;

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
    static const std::string& getsessionlog() { return sessionlog; }

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

}  // namespace morvia

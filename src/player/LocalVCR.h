// The player controller: every source of commands (main window, script,
// network client, edit controller) drives the DVD-V7400 through it.
//
// Thread-safety: every public operation may be called from any thread. Numbers
// and flags shared between threads are atomic; strings sit behind a lock; a
// command template is patched and queued as one step under one lock, so two
// callers never queue each other's digits. Operations that wait (cue, review,
// title change, start-up) block only their calling thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "player/Display.h"
#include "player/PlayerLink.h"
#include "player/Seams.h"

namespace morvia {

class TCThread;

// A timecode field whose text is not a timecode, or a frame number outside
// 0..9,999,999 once the offset is applied.
class TimecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class LocalVCR : public LinkClient {
public:
    // --- command table (bytes incl. the carriage return) ---
    static constexpr const char* bsclearcmd = "\r";
    static constexpr const char* bsstatus = "?P\r";
    static constexpr const char* bsclose = "CO\r";
    static constexpr const char* bsopen = "OP\r";
    static constexpr const char* bseject = "OP\r";
    static constexpr const char* bsreject = "RJ\r";
    static constexpr const char* bsstart = "SA\r";
    static constexpr const char* bsgetfr = "?F\r";
    static constexpr const char* bsplay = "PL\r";
    static constexpr const char* bspause = "ST\r";
    static constexpr const char* bsstop = "PA\r";
    static constexpr const char* bsforward = "NF\r";
    static constexpr const char* bsrewind = "NR\r";
    static constexpr const char* bsspeed = "SP\r";
    static constexpr const char* bsslowfourth = "15SPMF\r";
    static constexpr const char* bsslowhalf = "30SPMF\r";
    static constexpr const char* bsslowone = "60SPMF\r";
    static constexpr const char* bsjogr = "SR\r";
    static constexpr const char* bsjogf = "SF\r";
    static constexpr const char* bsclear = "CL\r";
    static constexpr const char* bsgotitle = "TI01SEPL\r";
    static constexpr const char* bsfindzero = "TM000SE\r";
    static constexpr const char* bsgettitle = "?R\r";
    static constexpr const char* bsgetchapter = "?C\r";
    static constexpr const char* bsgetinfo = "?A\r";
    static constexpr const char* bsstopscan = "NS\r";
    // Templates (bsvariable, bsgochapter, bsautostart, bscueinfr, bscueoutfr,
    // bsplaytofr, bsstopmkfr) are per-controller state, patched under a lock.

    // Hooks that construction needs from subsystems above the player.
    struct StartHooks {
        // Opens a logger window (the main window's logger button).
        std::function<std::shared_ptr<LoggerSeam>()> makeLogger;
        // Builds the edit-controller port on the named port (switch on only).
        std::function<std::unique_ptr<EditPortSeam>(const std::string& port)> makeEditPort;
    };

    // Sets up fields only (steps 1-3 and the offset); talks to nobody.
    // `link` may be null (no player link). `gui` must outlive the controller.
    LocalVCR(PlayerLink* link, Display& gui, int socketport);
    ~LocalVCR() override;  // stops and joins the polling thread
    LocalVCR(const LocalVCR&) = delete;
    LocalVCR& operator=(const LocalVCR&) = delete;

    // The rest of construction: starts the link, the start-up dialogue with
    // the player, start title, polling, first in point and play. May end the
    // process ("Please Turn Unit ON").
    void startup(const StartHooks& hooks = {});

    // --- transport (Part of the command set) ---
    void CommandB0(const std::string& command);
    void play();
    void pause();
    void stopvcr();
    void sbyon();
    void stop();
    void sbyoff();
    void allstop();
    void forward();
    void rewind();
    void slowfourth();
    void slowhalf();
    void jogf();
    void jogr();
    void eject();
    void findzero();
    void sbyonoff();
    void shutfwd(int speed);
    void shutrev(int speed);
    void autostart();
    std::string CommandB4(const std::string& host);  // no address: returns ""
    void CommandB5();

    // --- timecode ---
    static int TCFrames(const std::string& tc);  // throws TimecodeError
    int MakeFRString(const std::string& tc, std::array<int, 7>& fr) const;  // throws TimecodeError
    void MakeOffset();
    void setd();
    void GetTC();
    void reporttc();
    std::string getTCString() const;

    // --- status, title, chapter ---
    std::string ExtractStatusString();
    void CommandStatus();
    void status();
    void nexttitle();
    void prevtitle();
    void nextchapter();
    void prevchapter();
    void settitle();
    void setchapter();
    void getdata();
    void reportti();
    void reportch();
    void reportstatus();
    void setfield(const std::string& tc, Field f);
    int getcurtitle() const { return curtitle.load(); }
    int getcurchapter() const { return curchapter.load(); }
    void setcurtitle(int t) { curtitle.store(t); }
    void setcurchapter(int c) { curchapter.store(c); }
    int getStatus() const { return Status.load(); }
    std::string getStatusString() const;

    // --- cue, review, repeat ---
    void setcue();
    void setreview();
    void setdirectin();
    void setdirectout();
    void setcue(int selector);
    void MakeCueFRString();
    void MakeReviewFRString();
    void CalcDuration();
    void cuein();
    void cueout();
    void cueplay();
    void review();
    void repeat();
    void setstoprepeat();
    std::string getCueString() const;
    void setCueString(const std::string& s);
    std::string getEndString() const;
    void setEndString(const std::string& s);
    int getcuefrs() const { return cuefrs.load(); }
    int getreviewfrs() const { return reviewfrs.load(); }
    int getduration() const { return duration.load(); }
    bool getinok() const { return inok.load(); }
    bool getoutok() const { return outok.load(); }

    // --- construction and shutdown ---
    void ShowStat(const std::string& text) override;
    static void DelayT(int ms);
    void CommandBLogger();
    // Main window close: stops polling, "PA" twice 500 ms apart, then returns;
    // the caller ends the process once the link has sent them.
    void windowClosing();
    // Logger window close.
    void loggerClosing();
    std::shared_ptr<LoggerSeam> getloggergui() const;
    void setconnectthread(std::shared_ptr<ClientSeam> client);
    std::shared_ptr<ClientSeam> getconnectthread() const;
    TCThread* gettcthread() const { return tcthread.get(); }
    Display& gui() const { return gui_; }
    int getoffsetframes() const { return offset.load(); }
    int getsocketport() const { return socketport; }

    // --- LinkClient (called on the link's thread) ---
    void SerIn(const std::uint8_t* reply, int size) override;
    void DoTC(const std::uint8_t* reply, int size, int numBytes) override;
    void setinfo(int title, int chapter) override;
    void TCIndicate(bool ok) override;
    // Copy of the last reply (16 bytes).
    std::array<std::uint8_t, 16> lastReply() const;

private:
    // Implementation state lives here; see LocalVCR*.cpp.
    PlayerLink* sop;
    Display& gui_;
    int socketport;
    StartHooks hooks_;

    std::atomic<int> Status{0};
    std::atomic<bool> standby{false};
    std::atomic<int> curtitle{1};
    std::atomic<int> curchapter{1};
    std::atomic<int> offset{0};
    std::atomic<int> cuefrs{0};
    std::atomic<int> reviewfrs{0};
    std::atomic<int> duration{0};
    std::atomic<bool> inok{false};
    std::atomic<bool> outok{false};
    std::atomic<bool> stoprepeat{false};

    mutable std::mutex textLock;      // guards the strings below
    std::string TCString = "00:00:00:01";
    std::string StatusString;         // empty until the first status update
    bool haveStatusString = false;
    std::string CueString = "00:00:00:01";
    std::string EndString = "00:00:00:20";
    std::string OSString = "00:00:00:00";
    std::array<std::uint8_t, 16> serIn{};

    mutable std::mutex templateLock;  // guards the command templates
    std::string bsvariable = "00SPMF\r";
    std::string bsgochapter = "CH01SEPL\r";
    std::string bsautostart = "TI01SEPL\r";
    std::string bscueinfr = "FR0000000SE\r";
    std::string bscueoutfr = "FR0000000SE\r";
    std::string bsplaytofr = "FR0000000SMPL\r";
    std::string bsstopmkfr = "FR0000000SM\r";

    std::unique_ptr<TCThread> tcthread;
    mutable std::mutex seamLock;      // guards loggergui, connectthread
    std::shared_ptr<LoggerSeam> loggergui;
    std::shared_ptr<ClientSeam> connectthread;
    std::unique_ptr<EditPortSeam> sip;
};

} // namespace morvia

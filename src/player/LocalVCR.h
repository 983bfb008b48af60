// The player controller: every source of commands (main window, script,
// network client, edit controller) drives the DVD-V7400 through it.
//
// Thread-safety: every public operation may be called from any thread. Numbers
// and flags shared between threads are atomic; the rest of the state lives in
// owners that each guard their own data with their own lock (the command
// templates, the texts, the polling thread, the seams), so the controller's
// own members take no lock. A command template is patched and queued as one
// step, so two callers never queue each other's digits. Operations that wait
// (cue, review, title change, start-up) block only their calling thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "player/CommandTemplates.h"
#include "player/ControllerSeams.h"
#include "player/ControllerTexts.h"
#include "player/Display.h"
#include "player/PlayerLink.h"
#include "player/Polling.h"
#include "player/Seams.h"
#include "player/Timecode.h"
#include "startup/Quenta.h"
#include "startup/StopSignal.h"

namespace morvia {

class TCThread;

// TimecodeError (a text that is not a timecode) and FrameRangeError (a frame
// number outside 0..9,999,999 once the offset is applied) come from Timecode.h.

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
    // bsplaytofr, bsstopmkfr) are per-controller state in templates().

    // Hooks that construction needs from subsystems above the player.
    struct StartHooks {
        // Opens a logger window (the main window's logger button).
        std::function<std::shared_ptr<LoggerSeam>()> makeLogger;
        // Builds the edit-controller port on the named port (switch on only).
        std::function<std::unique_ptr<EditPortSeam>(const std::string& port)> makeEditPort;
    };

    // Status text shown when a timecode's player frame falls outside
    // 0..9,999,999 once the offset is applied; nothing is sent.
    static constexpr const char* kOutOfRangeText = "Timecode Out Of Range";

    // Sets up fields only (steps 1-3 and the offset); talks to nobody.
    // `link` may be null (no player link). `gui` must outlive the controller.
    LocalVCR(PlayerLink* link, Display& gui, int socketport);
    ~LocalVCR() override;  // stops and joins the polling thread (and the edit port)
    LocalVCR(const LocalVCR&) = delete;
    LocalVCR& operator=(const LocalVCR&) = delete;

    // The rest of construction: starts the link, the start-up dialogue with
    // the player, start title, polling, first in point and play. May end the
    // process ("Please Turn Unit ON"). Keeps `hooks` for CommandBLogger.
    void startup(const StartHooks& hooks = {});
    // Installs the hooks without running start-up (tests, late wiring).
    void setStartHooks(const StartHooks& hooks);

    // --- transport: one command each, then the status code ---
    void CommandB0(const std::string& command);
    void play();
    void pause();
    void stopvcr();
    void sbyon();
    void stop();  // also asks a running repeat to end after its current pass
    void sbyoff();
    void allstop();  // also asks a running repeat to end after its current pass
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
    // Player frame of a timecode (frames minus offset) with its seven digits
    // in `fr`. Throws TimecodeError, or FrameRangeError outside 0..9,999,999
    // (then `fr` is untouched).
    int MakeFRString(const std::string& tc, std::array<int, 7>& fr) const;
    // Takes the offset setting. A setting that is not a timecode is reported
    // in the status field and on the console and gives offset 0.
    void MakeOffset();
    void setd();
    void GetTC();
    // The stored values the query commands answer.
    enum class Query { timecode, title, chapter, status };
    // Prints the query's console line ("Time Code= ", "Title= ", "Chapter= ",
    // "Status= " and the value) and, when `answerTo` is given, first sends
    // it the bare value as one line. Asks the player nothing.
    void report(Query query, ClientSeam* answerTo);
    // report() to the attached client (setconnectthread), if any.
    void reporttc();
    std::string getTCString() const;
    std::string getOSString() const;

    // --- status, title, chapter ---
    std::string ExtractStatusString();
    void CommandStatus();
    void status();
    void nexttitle();
    void prevtitle();
    void nextchapter();
    void prevchapter();
    // Go to title curtitle / chapter curchapter; a number outside 1..99 sends nothing.
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
    bool getstandby() const { return standby.load(); }
    // The last status text; before the first status update, the text of the
    // current status code.
    std::string getStatusString() const;

    // --- cue, review, repeat ---
    // The operations below never throw: a point field that is not a timecode
    // abandons the operation silently where it met it; a point whose player
    // frame is out of range abandons it with kOutOfRangeText before anything
    // of it is sent.
    void setcue();
    void setreview();
    void setdirectin();
    void setdirectout();
    void cuein();
    void cueout();
    void cueplay();
    // Searches to timecode `tc` (the offset applied as for the in point)
    // and holds the frame there, as the cue does, without touching the in
    // point.
    void cueTo(const std::string& tc);
    // How a review or repeat pass meets an operator stop request made after
    // `since` (a repeat also ends before its next pass either way).
    enum class PassStop {
        // The pass under way plays to its end. For the window and scripts,
        // whose Stop command waits on the action thread behind the pass.
        afterPass,
        // The pass ends where it is and sends nothing more. For a network
        // client, whose pass runs beside the action thread: the Stop's own
        // command has already gone out and must stay the last word.
        atOnce,
    };
    void review();  // review(stopGeneration(), PassStop::afterPass)
    void review(unsigned since, PassStop how);
    void repeat();  // repeat(stopGeneration())
    // Ends before a pass once a repeat stop or an operator stop request
    // arrived after the repeat began, or once an operator stop request
    // arrived after `since` (the caller's own start, e.g. a script's).
    void repeat(unsigned since, PassStop how = PassStop::afterPass);
    // Asks every repeat already running to end after its current pass, and
    // a pass of PassStop::atOnce to end where it is; a repeat started
    // afterwards runs its full count.
    void setstoprepeat();

    // --- the operator's stop request ---
    // Raised on the Qt thread the moment the operator clicks Stop, ahead of
    // the queued action: every repeat, script and script wait running now
    // ends early (a repeat after its current pass, a script after its current
    // line, a sleeping wait at once). Anything started later runs normally.
    void requestStop();
    // The operator asked to close the window (Qt thread, before the close
    // runs): as requestStop, but for good, so that nothing long starts any
    // more; the commands waiting for the player are dropped, since they
    // were asked for before the close, and the link's gate closes: from now
    // on only windowClosing's two stops reach the player.
    void closeRequested();
    // The generation a long operation remembers when it starts.
    unsigned stopGeneration() const { return stopRequest_.generation(); }
    bool stopRequestedSince(unsigned since) const { return stopRequest_.raisedSince(since); }
    // DelayT that a stop request after `since` cuts short; false when cut.
    bool DelayUnlessStopped(int ms, unsigned since) { return stopRequest_.sleep(ms, since); }
    // DelayT that the window's close cuts short; false when cut.
    bool DelayUnlessClosing(int ms) { return stopRequest_.sleepUnlessLatched(ms); }
    // Building blocks; these throw TimecodeError / FrameRangeError.
    void setcue(int selector);
    void MakeCueFRString();
    void MakeReviewFRString();
    void CalcDuration();
    std::string getCueString() const;
    void setCueString(const std::string& s);
    std::string getEndString() const;
    void setEndString(const std::string& s);
    int getcuefrs() const { return cuefrs.load(); }
    int getreviewfrs() const { return reviewfrs.load(); }
    int getduration() const { return duration.load(); }
    bool getinok() const { return inok.load(); }
    bool getoutok() const { return outok.load(); }
    // The command templates (a copy of one: templates().get(id)).
    const CommandTemplates& templates() const { return templates_; }

    // --- construction and shutdown ---
    // Shows an operator message; the periodic status refresh leaves it in
    // place for kStatusHoldMs (the highlights keep updating).
    void ShowStat(const std::string& text) override;
    static constexpr int kStatusHoldMs = 2000;
    static void DelayT(int ms);
    void CommandBLogger();
    // Main window close: closes the link's gate (as closeRequested), stops
    // polling, drops whatever still waits and says how many commands were
    // dropped or refused in all; then "PA" twice 500 ms apart past the gate
    // and waits (at most one second) until the link has sent them. The
    // caller then ends the process.
    void windowClosing();
    // Logger window close.
    void loggerClosing();
    std::shared_ptr<LoggerSeam> getloggergui() const;
    void setconnectthread(std::shared_ptr<ClientSeam> client);
    std::shared_ptr<ClientSeam> getconnectthread() const;
    TCThread* gettcthread() const { return polling_.thread(); }
    // Stops the polling thread and waits for it to end (a tick of its own
    // only asks it to end); polling never starts again.
    void stopPolling();
    EditPortSeam* getsip() const { return sipptr.load(); }
    Display& gui() const { return gui_; }
    PlayerLink* getlink() const { return sop; }
    int getoffsetframes() const { return offset.load(); }
    int getsocketport() const { return socketport; }
    const std::string& getcomport1() const { return comport1; }
    const std::string& getcomport2() const { return comport2; }

    // --- LinkClient (called on the link's thread) ---
    void SerIn(const std::uint8_t* reply, int size) override;
    void DoTC(const std::uint8_t* reply, int size, int numBytes) override;
    void setinfo(int title, int chapter) override;
    void TCIndicate(bool ok) override;
    void LinkSilence(bool silent) override;
    // Copy of the last reply (16 bytes).
    std::array<std::uint8_t, 16> lastReply() const;

private:
    // The out-point commands built from one text, as queued by one caller.
    struct OutPoint {
        int frames = 0;
        std::array<int, 7> digits{};
    };

    // Runs `op`; a TimecodeError ends it (FrameRangeError with a status text).
    // True when `op` ran to its end.
    template <class F>
    bool guarded(F&& op);
    // The in point built and cued; false when the window's close cut it short.
    bool cueInImpl();
    // The cue's commands and waits, searching with template `id`; false when
    // the window's close cut it short.
    bool searchFrame(CommandTemplates::Id id, const std::array<int, 7>& digits);
    int buildCueIn(std::array<int, 7>& digits);
    OutPoint buildOut(const std::string& text);
    void setdirectinImpl();
    void setdirectoutImpl();
    bool reviewImpl(unsigned since, PassStop how);  // true when the segment was played
    void autostartFields();
    void reportToAttached(Query query);
    void finalStop();  // stop(), past the link's closed gate
    bool statusHeld() const;

    PlayerLink* sop;
    Display& gui_;
    int socketport;
    // The built-in values until the constructor takes the settings' values.
    std::string comport1 = Settings().comport1;
    std::string comport2 = Settings().comport2;
    bool MCS = Settings().mcs;
    bool useclipboard = false;

    std::atomic<int> Status{0};
    std::atomic<bool> standby{false};
    // Steady-clock reading (ticks) until which an operator message is held.
    std::atomic<long long> statusHeldUntil{0};
    std::atomic<int> curtitle{1};
    std::atomic<int> curchapter{1};
    std::atomic<int> offset{0};
    std::atomic<int> cuefrs{0};
    std::atomic<int> reviewfrs{0};
    std::atomic<int> duration{0};
    std::atomic<bool> inok{false};
    std::atomic<bool> outok{false};
    // Raised by setstoprepeat and requestStop (latched by the close): a
    // repeat ends before its next pass, and a PassStop::atOnce pass where it
    // is, once it was raised after they began.
    StopSignal repeatStop_;
    StopSignal stopRequest_;              // the operator's stop request
    std::atomic<int> droppedAtClose_{0};  // commands dropped by closeRequested

    CommandTemplates templates_{sop};
    ControllerTexts texts_{Settings().OSString};
    ControllerSeams seams_;
    std::unique_ptr<EditPortSeam> sip;  // written only during startup()
    std::atomic<EditPortSeam*> sipptr{nullptr};
    // Last: the polling thread ends before anything it uses goes.
    Polling polling_;
};

}  // namespace morvia

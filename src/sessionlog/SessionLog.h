// The session log: one JSON line per event in a file of its own per run, for
// whoever lines the session up with a capture or asks afterwards what the
// player got and from whom.
//
// Recording: any thread calls record(event) (or one of the note... calls
// below). When no log is open (the setting is absent) each call is one atomic
// load and returns. Otherwise the event is stamped under the log's lock: the
// UTC time, mono_ms (milliseconds since the log opened on the clock it was
// opened with, never decreasing), the source of the calling thread when the
// event names none, and the timecode, title and chapter last reported when
// it names none. It then goes into a queue; the log's own thread ("session
// log") formats it and writes it, so a caller never waits for the disk: the
// player link records a command after it is written and before it takes the
// next one.
//
// Sources: a thread says on whose behalf it acts with a Scope, which sets the
// calling thread's current source until it goes (scopes nest; the outer one
// comes back). The player link reads the source when a command is handed to
// it (queue time), so a command carries the source of the thread that asked
// for it, whichever thread writes it later. The sources used:
//   button, key   the main window's action thread, per control
//   script        the script runner
//   startup       the start-up dialogue
//   close         the window's close
//   editport      the edit controller's port thread
//   network       a control-server connection thread: Scope("network", peer)
//                 with the peer's address as "host:port"
//   hyperdeck     a HyperDeck-compatible connection thread: Scope("hyperdeck", peer)
// A listener also reports its connections: connectionOpened(kind, peer) when
// it accepts one and connectionClosed(kind, peer, reason) when it ends, from
// any thread; `kind` is the listener's source name ("network", "hyperdeck").
//
// Thread-safety: every function may be called from any thread. The log's
// lock is a leaf: nothing is called while it is held but the clock.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "sessionlog/SessionEvent.h"
#include "startup/Clock.h"
#include "startup/Posix.h"
#include "startup/Worker.h"

namespace morvia::sessionlog {

// On whose behalf a thread acts; an empty kind is none.
struct Source {
    std::string kind;
    std::string peer;
};

// Sets the calling thread's source while it lives.
class Scope {
public:
    explicit Scope(std::string kind, std::string peer = {});
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    Source saved_;
};

// The calling thread's source (none outside every scope).
const Source& currentSource();

// True while a log is open: callers that build an event at some cost check it first.
bool enabled();
// Stamps and queues `e` (see above); nothing when no log is open.
void record(Event e);
// A command handed to the player link: its `name`, its bytes, `outcome`
// "sent" or "dropped" (with `why`), `source` as captured when it was handed over.
void recordCommand(const std::string& name, const std::string& wire, const std::string& outcome,
                   const Source& source, const std::string& why = {});
// The timecode the window shows now (every poll may call it): remembered for
// the events that follow, and an event "tc" when it moved and the last "tc"
// event is a second old or more; none while it stands.
void noteTimecode(const std::string& tc);
// The title and chapter the player reported (chapter < 1: unchanged): an
// event "title" when the title changed, else "chapter" when the chapter did.
void noteTitle(int title, int chapter);
// A network listener accepted (opened) or ended (closed) a connection.
void connectionOpened(const std::string& kind, const std::string& peer);
void connectionClosed(const std::string& kind, const std::string& peer, const std::string& reason = {});

// The open log: its file and its thread. At most one at a time per process;
// the program (the App) owns it.
class Writer {
public:
    // Creates a new file named after the UTC time (logFileName; the next free
    // number when the name is taken, never an existing file) in `folder`,
    // records `start` as its first line and starts the log's thread. A folder
    // that cannot be written gives one console line with the reason and
    // nothing (no log, no thread).
    static std::unique_ptr<Writer> open(const std::string& folder, Event start,
                                        std::shared_ptr<Clock> clock);
    ~Writer();  // finish("stopped") unless finished
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Records `end` (an event "end" with outcome `how`) as the last line,
    // takes no event after it, writes what waits and ends the thread. Once,
    // from any thread: a second call waits until the first has finished.
    void finish(const std::string& how);
    const std::string& path() const { return path_; }

    // A writer of the file open on `fd` (open() makes one; use open()).
    Writer(UniqueFd fd, std::string path);

private:
    void finishOnce(const std::string& how);
    void run(std::stop_token stop);
    // Writes the lines; a failure ends the writing with one console line.
    void write(const std::string& lines);

    UniqueFd fd_;
    const std::string path_;
    bool failed_ = false;  // the log's thread only
    std::once_flag finished_;
    // Last: the thread ends before the file goes.
    Worker worker_{"session log"};
};

}  // namespace morvia::sessionlog

// The HyperDeck-compatible listener: a Listener whose connections speak the
// HyperDeck Ethernet protocol (remote/HyperDeckSession.h) to the controller
// through one deck (remote/HyperDeckDeck.h) that all its clients share.
//
// On connect a client gets the "500 connection info:" block; each command
// is answered at once with one block; a fifth client gets "120 connection
// rejected" and is closed. A client that switched notifications on gets the
// asynchronous blocks of what changed, looked for ten times a second by the
// notifier thread ("hyperdeck notify"). A client that sends nothing for its
// watchdog period is closed.
//
// Threads: the listener's accept and connection threads, the deck thread
// and the notifier. stop() ends them in that order: first the connections
// (a command never waits, so each ends at once), then the notifier, then the
// deck (an operation under way ends first: a segment at once, a search after
// its waits).
//
// Locks: lock_ guards the list of clients; it is taken before a session's
// own lock (Session::changes, notifying) and never while sending.
//
// Thread-safety: start and stop as Listener (one caller at a time, never
// from the listener's own threads).
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "remote/HyperDeckDeck.h"
#include "remote/HyperDeckSession.h"
#include "remote/Listener.h"
#include "remote/Socket.h"
#include "startup/Worker.h"

namespace morvia {

class LocalVCR;

class HyperDeckServer {
public:
    // The line a client beyond Listener::maxClients gets.
    static constexpr const char* busyLine = "120 connection rejected";
    // How often the notifier looks for changes.
    static constexpr std::chrono::milliseconds kNotifyPeriod{100};

    HyperDeckServer(LocalVCR& vcr, ServerSocket socket);
    ~HyperDeckServer();  // stop()
    HyperDeckServer(const HyperDeckServer&) = delete;
    HyperDeckServer& operator=(const HyperDeckServer&) = delete;

    void start();
    void stop();
    int port() const { return listener_.port(); }
    int clients() const { return listener_.clients(); }

private:
    class Connection;
    struct Client;

    void add(const std::shared_ptr<Client>& client);
    void remove(const Client* client);
    // A client's notification settings may have changed.
    void poke();
    void notifyLoop();

    HyperDeckDeck deck_;
    std::mutex lock_;  // guards clients_
    std::condition_variable_any wake_;
    std::vector<std::shared_ptr<Client>> clients_;
    Listener listener_;
    Worker notifier_{"hyperdeck notify"};
};

}  // namespace morvia

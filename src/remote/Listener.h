// A network listener that serves several clients at once, each on its own
// thread, for any line protocol: the control server and the HyperDeck-style
// listener are both one of these with their own Protocol.
//
// How to build a protocol on it:
//   1. Open the socket: listenOn(parseListenAddress(setting).address)
//      (remote/ListenAddress.h).
//   2. Write a connection class deriving from Listener::Connection. Its
//      constructor receives the client's LineConnection (keep the
//      shared_ptr) and must not block (it runs on the accept thread). Its
//      serve(stop) runs on the connection's own thread: send the greeting,
//      then loop over conn->readLine(line, stop) until the client ends, a
//      command of the protocol ends it, or readLine returns stopped / error
//      / tooLong / stuck. Answers go out with conn->send / sendLine (never
//      blocking; one send per protocol message keeps a message in one
//      write). Other threads (notifications) may call send too. To end a
//      client (a "quit" command), return from serve(); readLine's idle
//      deadline serves for a watchdog.
//   3. Make a Listener with Protocol{name, source, busyLine, factory} and start()
//      it; stop() (or the destructor) ends it. In the program the App does
//      both (App::startNetwork after start-up, App::stopNetwork at the
//      window's close, before the closing stops).
//
// What the listener does: it accepts every client at once (a storm of
// connects never waits in the backlog and never blocks those already
// served). Up to maxClients are served at the same time, each by a
// Connection from the protocol's factory, on a Worker of its own named
// "<name> connection". A client beyond that gets the protocol's busyLine
// (with CR LF) and is closed at once. A place is free again as soon as its
// client's socket is closed (by the protocol, or by the listener when serve()
// returns), so a client that saw its end may reconnect at once.
// Errors of accept that run out of a resource (descriptors, memory) pause
// the accept loop 100 ms; any other failure of the listening socket ends it
// with a console line "<name>: <reason>".
//
// Thread rule: start and stop may be called from any thread except the
// listener's own threads (the accept thread and the connections' threads:
// stopping from one of them would wait for itself, which ends the process
// with a message), one caller at a time. stop() stops accepting first, then
// asks every connection to stop (their readLine returns stopped; a command
// in progress finishes first, so a protocol whose commands wait must make
// them end on the program's stop request), joins them all, and closes the
// listening socket. After stop() nothing of the listener runs and its port
// is free. A connection's serve() must not call the listener.
//
// Locks: lock_ guards the table of connections; it is a leaf, never held
// while starting, stopping or joining a connection, nor while the factory
// or serve() runs.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "remote/LineConnection.h"
#include "remote/Socket.h"
#include "startup/Posix.h"
#include "startup/Worker.h"

namespace morvia {

class Listener {
public:
    // Clients served at once.
    static constexpr int maxClients = 4;

    // One client as its protocol serves it.
    class Connection {
    public:
        virtual ~Connection() = default;
        // Serves the client on the connection's own thread until it is
        // done; returns soon once `stop` is raised. The listener closes the
        // client's socket afterwards.
        virtual void serve(std::stop_token stop) = 0;
    };

    struct Protocol {
        // Names the threads ("<name> accept", "<name> connection") and the
        // console lines of the listener.
        std::string name;
        // The session log's source for what a connection's thread does
        // ("network", "hyperdeck"); the listener logs each connection's
        // opening and end under it, with the client's address.
        std::string source;
        // Sent (with CR LF) to a client that comes while maxClients are
        // served, before it is closed ("Server Busy").
        std::string busyLine;
        // Makes the connection object for a new client (accept thread; must
        // not block). May throw: the client is then closed.
        std::function<std::unique_ptr<Connection>(std::shared_ptr<LineConnection>)> connect;
    };

    // Takes the listening socket (see listenOn).
    Listener(ServerSocket socket, Protocol protocol);
    ~Listener();  // stop()
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Starts the accept thread; a second call, or one after stop, does nothing.
    void start();
    // Ends every connection and the listener in order and joins them (see
    // above). Safe to repeat.
    void stop();

    // The port listened on.
    int port() const { return port_; }
    // Clients served now: connections whose socket is not closed yet (a
    // closed one's thread may still be finishing; its place is free).
    int clients() const;

private:
    struct Slot;

    void acceptLoop(const std::stop_token& stop);
    void admit(UniqueFd client);
    // Joins and drops the connections whose serve() has returned.
    void reap();
    void wake();

    const Protocol protocol_;
    const int port_;
    std::optional<ServerSocket> socket_;  // closed by stop()
    const UniqueFd wake_;                 // eventfd: a stop or an ended connection wakes the accept loop

    mutable std::mutex lock_;  // guards slots_ (leaf)
    std::vector<std::unique_ptr<Slot>> slots_;

    Worker acceptWorker_;  // last: it ends before what it uses goes
};

}  // namespace morvia

// The TCP control server: a Listener whose connections pass their clients'
// command lines to the command language.
//
// Line protocol: the server sends "OK" once the client is accepted; the client
// sends one command per line (ended by LF, CR, CR LF, LF CR or NUL); the query
// commands ("GetTC", "GetTi", "GetCh", "Status") answer one line to the
// client that asked, and only to it; "Close", "KILL", an empty line or the
// end of the stream end the connection. Every line the server sends ends with
// CR LF. Up to Listener::maxClients clients are served at once; one more gets
// "Server Busy" and is closed.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "player/Seams.h"
#include "remote/LineConnection.h"
#include "remote/ListenAddress.h"
#include "remote/Listener.h"
#include "remote/Socket.h"

namespace morvia {

class LocalVCR;

// Opens the control server's listening socket at `address` and shows "Server
// Socket Opened OK at Port <port>" in the status field. When the port cannot
// be had, shows "Can't Get ServerSocket at Port <port>", puts the system's
// reason into `reason` (when given) and returns nothing. With port 0 the
// message names the port chosen.
std::optional<ServerSocket> OpenServerSocket(LocalVCR& vcr, const ListenAddress& address,
                                             std::string* reason = nullptr);

// One client of the control server, served on the connection's own thread
// (Listener::Connection::serve).
//
// Thread-safety: Send, Close and ShowStat may be called from any thread;
// serve runs once, on the connection thread.
class ClientSocket : public ClientSeam, public Listener::Connection {
public:
    static constexpr std::size_t maxLine = LineConnection::maxLine;

    ClientSocket(std::shared_ptr<LineConnection> connection, LocalVCR& vcr);

    // "Client Connection Accepted!", "OK" to the client, then one command
    // per line until an end; then Close and "Server Loop Close" on the
    // console. A stop ends it after the command in progress.
    void serve(std::stop_token stop) override;
    // Hands `line` and CR LF to the client in call order; never blocks (see
    // LineConnection::send).
    void Send(const std::string& line) override;
    // Closes the client connection (failures ignored), then enables the
    // window's connect button and calls the controller's CommandB5.
    void Close(bool unused = false);
    void ShowStat(const std::string& text);

private:
    std::shared_ptr<LineConnection> conn_;
    LocalVCR& svcr;
    std::atomic<bool> a{false};  // the connection's loop runs
};

// The control server: the listener with ClientSocket connections.
//
// Thread-safety: as Listener (start and stop from one thread at a time,
// never from a connection's thread).
class ControlServer {
public:
    // The line a client beyond Listener::maxClients gets.
    static constexpr const char* busyLine = "Server Busy";

    ControlServer(LocalVCR& vcr, ServerSocket socket);

    // Shows "Awaiting Client Connection" and starts accepting.
    void start();
    // Ends every connection (a command in progress completes first) and
    // the listener, and frees the port.
    void stop();
    int port() const { return listener_.port(); }
    int clients() const { return listener_.clients(); }

private:
    LocalVCR& vcr_;
    Listener listener_;
};

}  // namespace morvia

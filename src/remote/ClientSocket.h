// The TCP control server: a listening socket opened for the controller, and
// one connection thread per client that passes the client's command lines to
// the command language.
//
// Line protocol: the server sends "OK" once the client is accepted; the client
// sends one command per line (ended by LF, CR or CR LF); query commands answer
// one line while the connection is the controller's attached client; "Close",
// "KILL", an empty line or the end of the stream end the connection. Every
// line the server sends ends with CR LF.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "player/Seams.h"
#include "remote/Socket.h"
#include "startup/Clock.h"
#include "startup/TextFiles.h"
#include "startup/Worker.h"

namespace morvia {

class LocalVCR;

// Opens a listening socket on `port` into `ss` and shows "Server Socket
// Opened OK at Port <port>" in the status field; true. When the port cannot
// be had, shows "Can't Get ServerSocket at Port <port>", leaves `ss` as it
// was and returns false. With port 0 the message names the port chosen.
bool OpenServerSocket(LocalVCR& vcr, int port, std::shared_ptr<ServerSocket>& ss);

// One client connection, served by a thread that this object owns. Each
// object serves exactly one client; the listening socket stays open for the
// next ClientSocket.
//
// Thread-safety: Send, Close, ShowStat and stop may be called from any
// thread except the connection thread itself for stop. The object must not
// be stopped or destroyed on its own connection thread (for instance by
// dropping the last reference from inside a command): that would wait for
// itself, and ends the process with a message.
class ClientSocket : public ClientSeam {
public:
    // Lines longer than this (without the line end) close the connection.
    static constexpr std::size_t maxLine = 4096;
    // A client that takes nothing of what we send for this long (while
    // something waits to go out) is closed in order: "Send Time-out Close".
    static constexpr int sendTimeoutMs = 5000;
    // Bytes that may wait to go out before the client counts as stuck.
    static constexpr std::size_t maxPendingOut = 1 << 20;
    // The send buffer asked of the kernel for each client socket.
    static constexpr int sendBufferBytes = 64 * 1024;

    ClientSocket(std::shared_ptr<ServerSocket> ss, LocalVCR& vcr);
    // Stops the connection thread (as stop) and joins it.
    ~ClientSocket() override;
    ClientSocket(const ClientSocket&) = delete;
    ClientSocket& operator=(const ClientSocket&) = delete;

    // Starts the connection thread; a second call, or one after stop, does
    // nothing.
    void start();
    // Ends the connection thread in order (waiting for a client or reading
    // lines; a command in progress completes first) and joins it. The end
    // runs Close and prints "Server Loop Close" as any other end does.
    void stop();
    // True once the connection thread has printed "Server Loop Close".
    bool finished() const { return done_.load(); }

    // Hands `line` and CR LF to the client while one is connected, whole
    // lines only and in call order. Never blocks: what the socket does not
    // take at once waits in the connection's outbox and the connection thread
    // sends it as the client reads. A client that takes nothing for
    // sendTimeoutMs, or lets more than maxPendingOut bytes pile up, is closed
    // by the connection thread. Write failures are otherwise ignored (a gone
    // client is found by the reader).
    void Send(const std::string& line) override;
    // Closes the client connection if there is one (failures ignored), then
    // enables the window's connect button and calls the controller's
    // CommandB5.
    void Close(bool unused = false);
    void ShowStat(const std::string& text);

private:
    enum class ReadResult { line, end, error, tooLong, stopped, stuck };

    void run();
    UniqueFd acceptClient(bool& failed);
    ReadResult readLine(int fd, std::string& out);
    std::shared_ptr<UniqueFd> connection() const;
    // Sends what the outbox holds as far as the socket takes it without
    // waiting; the caller holds outLock_. True when some bytes went.
    bool flushLocked(int fd);
    void wake();

    std::shared_ptr<ServerSocket> ss;
    LocalVCR& svcr;
    std::atomic<bool> a{false};
    std::string str;  // the line last received (connection thread only)

    mutable std::mutex lock_;      // guards cs
    std::shared_ptr<UniqueFd> cs;  // the accepted client, while connected
    // Guards outbox_ and stuck_; held only for non-blocking sends.
    std::mutex outLock_;
    std::string outbox_;  // bytes of whole lines not yet taken by the socket
    bool stuck_ = false;  // too much piled up: the connection thread closes

    // Bytes received past the last line handed out (connection thread only).
    text::LineQueue lines_{maxLine + 1};  // what arrived, cut into lines
    bool eof_ = false;

    UniqueFd wake_;  // eventfd: written by a stop and by Send() to wake poll()
    // Since when answers have waited without the socket taking any
    // (connection thread only).
    std::optional<Clock::time_point> stalledSince_;
    std::atomic<bool> done_{false};
    Worker worker_{"client connection"};
};

}  // namespace morvia

#include "remote/ClientSocket.h"

#include <exception>

#include "player/LocalVCR.h"
#include "remote/CommandLanguage.h"
#include "startup/Utils.h"

namespace morvia {

std::optional<ServerSocket> OpenServerSocket(LocalVCR& vcr, const ListenAddress& address, std::string* reason) {
    try {
        ServerSocket opened = listenOn(address);
        vcr.ShowStat("Server Socket Opened OK at Port " + std::to_string(opened.port()));
        return opened;
    } catch (const SocketError& e) {
        vcr.ShowStat("Can't Get ServerSocket at Port " + std::to_string(address.port));
        if (reason) *reason = e.what();
        return std::nullopt;
    }
}

ClientSocket::ClientSocket(std::shared_ptr<LineConnection> connection, LocalVCR& vcr)
    : conn_(std::move(connection)), svcr(vcr) {}

void ClientSocket::Send(const std::string& line) { conn_->sendLine(line); }

void ClientSocket::Close(bool) {
    conn_->close();
    svcr.gui().EnableConnect(true);
    svcr.CommandB5();
}

void ClientSocket::ShowStat(const std::string& text) { svcr.ShowStat(text); }

void ClientSocket::serve(std::stop_token stop) {
    using Read = LineConnection::Read;
    try {
        ShowStat("Client Connection Accepted!");
        Send("OK");
        a.store(true);
        std::string str;
        while (a.load()) {
            str.clear();
            const Read r = conn_->readLine(str, stop);
            if (r == Read::stopped) break;
            if (r == Read::error) {
                Utils::OutLine("Server ReadLine I/O Error");
                break;
            }
            if (r == Read::tooLong) {
                ShowStat("Line Too Long Close");
                break;
            }
            if (r == Read::stuck) {
                ShowStat("Send Time-out Close");
                break;
            }
            if (r == Read::end) {
                ShowStat("Client Command: null");
                ShowStat("Null Close");
                break;
            }
            ShowStat("Client Command: " + str);
            if (str.empty()) {
                ShowStat("Len=0 Close");
                break;
            }
            if (str == "Close" || str == "KILL") {
                ShowStat("Client Closed Connection!");
                break;
            }
            try {
                // The answers of the queries go to this client only.
                ParseNetCommand(svcr, str, svcr.stopGeneration(), *this);
            } catch (const std::exception&) {
                // A bad number or a field that is no timecode: the line is
                // ignored and the connection stays open.
            }
        }
    } catch (const std::exception&) {
        // A failing window or console call must not take the process down:
        // fall through to the orderly end.
    }
    a.store(false);
    try {
        Close(false);
    } catch (const std::exception&) {}
    Utils::OutLine("Server Loop Close");
}

ControlServer::ControlServer(LocalVCR& vcr, ServerSocket socket)
    : vcr_(vcr),
      listener_(std::move(socket),
                Listener::Protocol{"control server", "network", busyLine, [&vcr](std::shared_ptr<LineConnection> c) {
                                       return std::make_unique<ClientSocket>(std::move(c), vcr);
                                   }}) {}

void ControlServer::start() {
    vcr_.ShowStat("Awaiting Client Connection");
    listener_.start();
}

void ControlServer::stop() { listener_.stop(); }

}  // namespace morvia

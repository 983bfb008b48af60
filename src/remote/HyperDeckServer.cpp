#include "remote/HyperDeckServer.h"

#include <algorithm>

#include "startup/Utils.h"

namespace morvia {

struct HyperDeckServer::Client {
    Client(hyperdeck::Deck& deck, std::shared_ptr<LineConnection> c) : session(deck), conn(std::move(c)) {}
    hyperdeck::Session session;
    std::shared_ptr<LineConnection> conn;
};

class HyperDeckServer::Connection : public Listener::Connection {
public:
    Connection(HyperDeckServer& server, std::shared_ptr<LineConnection> conn)
        : server_(server), client_(std::make_shared<Client>(server.deck_, std::move(conn))) {}

    void serve(std::stop_token stop) override {
        using Read = LineConnection::Read;
        LineConnection& conn = *client_->conn;
        conn.send(hyperdeck::greeting());
        server_.add(client_);
        std::string line;
        for (;;) {
            line.clear();
            const Read r = conn.readLine(line, stop, client_->session.watchdogDeadline());
            if (r == Read::idle) {
                if (client_->session.watchdogExpired(Utils::clock()->now())) break;
                continue;
            }
            if (r != Read::line) break;  // the end, a stop, a fault, a line too long
            const hyperdeck::Session::Reply reply = client_->session.line(line, Utils::clock()->now());
            if (!reply.text.empty()) conn.send(reply.text);
            if (reply.close) break;
            server_.poke();
        }
        server_.remove(client_.get());
    }

private:
    HyperDeckServer& server_;
    std::shared_ptr<Client> client_;
};

HyperDeckServer::HyperDeckServer(LocalVCR& vcr, ServerSocket socket)
    : deck_(vcr),
      listener_(std::move(socket), Listener::Protocol{"hyperdeck", "hyperdeck", busyLine, [this](std::shared_ptr<LineConnection> c) {
                                                          return std::make_unique<Connection>(*this, std::move(c));
                                                      }}) {}

HyperDeckServer::~HyperDeckServer() { stop(); }

void HyperDeckServer::start() {
    deck_.start();
    notifier_.start([this](std::stop_token) { notifyLoop(); });
    listener_.start();
}

void HyperDeckServer::stop() {
    listener_.stop();
    notifier_.stop();
    deck_.shutdown();
}

void HyperDeckServer::add(const std::shared_ptr<Client>& client) {
    std::lock_guard g(lock_);
    clients_.push_back(client);
}

void HyperDeckServer::remove(const Client* client) {
    std::lock_guard g(lock_);
    std::erase_if(clients_, [client](const std::shared_ptr<Client>& c) { return c.get() == client; });
}

void HyperDeckServer::poke() {
    { std::lock_guard g(lock_); }  // a notifier between its check and its wait sees the change
    wake_.notify_all();
}

void HyperDeckServer::notifyLoop() {
    std::vector<std::shared_ptr<Client>> listening;
    for (;;) {
        {
            std::unique_lock g(lock_);
            const auto anyListens = [&] {
                return std::any_of(clients_.begin(), clients_.end(),
                                   [](const std::shared_ptr<Client>& c) { return c->session.notifying(); });
            };
            // Asleep while nobody listens: no cost for a port nobody watches.
            if (!notifier_.waitFor(wake_, g, anyListens)) return;
            listening = clients_;
        }
        const hyperdeck::DeckState state = deck_.state();
        const auto now = Utils::clock()->now();
        for (const auto& c : listening)
            for (const std::string& message : c->session.changes(state, now)) c->conn->send(message);
        listening.clear();
        if (!notifier_.sleepFor(kNotifyPeriod)) return;
    }
}

}  // namespace morvia

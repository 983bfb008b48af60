// The deck of the HyperDeck-compatible port on the controller: the
// operations its sessions ask for run in the order asked on one thread of
// this object's own ("hyperdeck deck"), so that a search, a title change or
// a segment that plays never holds a connection, and an operation asked for
// after a search reaches the player after it.
//
// Thread-safety: every member may be called from any thread; stop (the
// deck's own) and the destructor not from the deck thread. One lock (a leaf)
// guards the queue and the speed last asked for; the controller is called
// without it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "remote/HyperDeckSession.h"
#include "startup/Worker.h"

namespace morvia {

class LocalVCR;

class HyperDeckDeck : public hyperdeck::Deck {
public:
    // Operations that may wait; a further one is refused.
    static constexpr std::size_t kMaxWaiting = 16;
    // Jog steps queued at once before waiting for the link to send them.
    static constexpr int kJogBatch = 10;

    explicit HyperDeckDeck(LocalVCR& vcr);
    ~HyperDeckDeck() override;  // shutdown()
    HyperDeckDeck(const HyperDeckDeck&) = delete;
    HyperDeckDeck& operator=(const HyperDeckDeck&) = delete;

    void start();
    // Drops what waits, ends what runs (a segment at once, a search after
    // its waits) and joins the deck thread. Nothing is run afterwards.
    void shutdown();

    hyperdeck::DeckState state() const override;
    bool reachable(int frames) const override;
    bool hasRange() const override;
    bool submit(hyperdeck::Op op) override;
    void stop() override;

private:
    void run(const hyperdeck::Op& op);
    void jog(int frames, unsigned generation);
    void setPoint(const std::string& text, bool in);

    LocalVCR& vcr_;
    mutable std::mutex lock_;  // guards queue_, speedStatus_, speed_
    std::condition_variable_any wake_;
    std::deque<hyperdeck::Op> queue_;
    // The speed of the last speed command and the status code it left.
    int speedStatus_ = -1;
    int speed_ = 0;
    std::atomic<unsigned> stops_{0};  // moved on by every stop: a jog under way ends
    std::atomic<bool> loop_{false};
    std::atomic<bool> singleClip_{false};
    Worker worker_{"hyperdeck deck"};  // last: ends before what it uses goes
};

}  // namespace morvia

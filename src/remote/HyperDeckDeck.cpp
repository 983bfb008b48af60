#include "remote/HyperDeckDeck.h"

#include <cstdlib>

#include "player/LocalVCR.h"
#include "player/StatusText.h"
#include "player/Timecode.h"
#include "sessionlog/SessionLog.h"

namespace morvia {

using hyperdeck::Op;

HyperDeckDeck::HyperDeckDeck(LocalVCR& vcr) : vcr_(vcr) {}

HyperDeckDeck::~HyperDeckDeck() { shutdown(); }

void HyperDeckDeck::start() {
    worker_.start([this](std::stop_token token) {
        // The deck runs what HyperDeck clients asked for.
        const sessionlog::Scope source("hyperdeck");
        for (;;) {
            Op op;
            {
                std::unique_lock g(lock_);
                if (!worker_.waitFor(wake_, g, [&] { return !queue_.empty(); })) return;
                op = std::move(queue_.front());
                queue_.pop_front();
            }
            if (token.stop_requested()) return;
            run(op);
        }
    });
}

void HyperDeckDeck::shutdown() {
    {
        std::lock_guard g(lock_);
        queue_.clear();
    }
    stops_.fetch_add(1);
    if (worker_.running()) vcr_.setstoprepeat();  // a segment playing ends now
    worker_.stop();
}

hyperdeck::DeckState HyperDeckDeck::state() const {
    hyperdeck::DeckState s;
    const PlayerLink* link = vcr_.getlink();
    s.answering = link != nullptr && !link->silent();
    s.status = vcr_.getStatus();
    s.timecode = vcr_.getTCString();
    s.title = vcr_.getcurtitle();
    s.loop = loop_.load();
    s.singleClip = singleClip_.load();
    {
        std::lock_guard g(lock_);
        if (s.status == speedStatus_) s.speed = speed_;
    }
    if (!s.speed) {
        // Not left by a speed command of ours: what the status itself says.
        if (s.status == status::kPlay) s.speed = 100;
        else if (s.status != status::kForward && s.status != status::kRewind) s.speed = 0;
    }
    return s;
}

bool HyperDeckDeck::reachable(int frames) const {
    return timecode::InPlayerRange(static_cast<long long>(frames) - vcr_.getoffsetframes());
}

bool HyperDeckDeck::hasRange() const { return vcr_.getinok() && vcr_.getoutok(); }

bool HyperDeckDeck::submit(Op op) {
    {
        std::lock_guard g(lock_);
        if (queue_.size() >= kMaxWaiting || worker_.stopRequested()) return false;
        queue_.push_back(std::move(op));
    }
    wake_.notify_one();
    return true;
}

void HyperDeckDeck::stop() {
    {
        std::lock_guard g(lock_);
        queue_.clear();
        speedStatus_ = -1;
    }
    stops_.fetch_add(1);
    vcr_.setstoprepeat();  // a loop ends, a segment stops playing
    vcr_.pause();          // the frame is held at once
}

void HyperDeckDeck::run(const Op& op) {
    const auto speed = [this](int percent) {
        std::lock_guard g(lock_);
        speedStatus_ = vcr_.getStatus();
        speed_ = percent;
    };
    switch (op.kind) {
        case Op::Kind::play:
            vcr_.play();
            speed(100);
            break;
        case Op::Kind::pause:
            vcr_.pause();
            speed(0);
            break;
        case Op::Kind::slowQuarter:
            vcr_.slowfourth();
            speed(25);
            break;
        case Op::Kind::slowHalf:
            vcr_.slowhalf();
            speed(50);
            break;
        case Op::Kind::forward:
            vcr_.forward();
            speed(op.number);
            break;
        case Op::Kind::rewind:
            vcr_.rewind();
            speed(op.number);
            break;
        case Op::Kind::jog: jog(op.number, stops_.load()); break;
        case Op::Kind::gotoTimecode: vcr_.cueTo(op.in); break;
        case Op::Kind::gotoTitle:
            vcr_.setcurtitle(op.number);
            vcr_.settitle();
            break;
        case Op::Kind::setRange:
            setPoint(op.in, true);
            setPoint(op.out, false);
            vcr_.setdirectin();
            break;
        case Op::Kind::clearRange:
            // As the window does with an out point that is not after the in point.
            setPoint("00:00:00:00", false);
            vcr_.setdirectin();
            break;
        case Op::Kind::review:
            singleClip_.store(true);
            vcr_.review(vcr_.stopGeneration(), LocalVCR::PassStop::atOnce);
            singleClip_.store(false);
            break;
        case Op::Kind::loop:
            loop_.store(true);
            vcr_.repeat(vcr_.stopGeneration(), LocalVCR::PassStop::atOnce);
            loop_.store(false);
            break;
    }
}

void HyperDeckDeck::jog(int frames, unsigned generation) {
    // One step command per frame, a batch at a time, so that the link's
    // store never overflows and a stop ends the jog between batches.
    int left = std::abs(frames);
    while (left > 0 && stops_.load() == generation && !worker_.stopRequested()) {
        const int batch = left < kJogBatch ? left : kJogBatch;
        for (int i = 0; i < batch; ++i) {
            if (frames > 0) vcr_.jogf();
            else vcr_.jogr();
        }
        left -= batch;
        if (PlayerLink* link = vcr_.getlink()) link->waitIdle(1000);
    }
}

void HyperDeckDeck::setPoint(const std::string& text, bool in) {
    // As a TC1 / TC2 line does: the field shows the point, the controller
    // takes back what the field shows.
    Display& gui = vcr_.gui();
    const Field f = in ? Field::cuefield : Field::endfield;
    gui.settcfield(text, f);
    if (in) vcr_.setCueString(gui.gettext(f));
    else vcr_.setEndString(gui.gettext(f));
}

}  // namespace morvia

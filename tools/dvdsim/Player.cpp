#include "dvdsim/Player.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

#include "startup/Decimal.h"

namespace dvdsim {

namespace {

constexpr std::int64_t kNsPerTwoSeconds = 2'000'000'000;

std::int64_t nsBetween(Time from, Time to) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(to - from).count();
}

// Time needed to move `frames` frames at `rate2` frames per two seconds, rounded up so that the
// frame count at the returned instant has reached `frames`.
Clock::duration travel(std::int64_t frames, int rate2) {
    const std::int64_t ns = (frames * kNsPerTwoSeconds + rate2 - 1) / rate2;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns));
}

constexpr std::array<std::string_view, 27> kKnownCodes = {"SA", "OP", "CO", "RJ", "PL", "ST", "PA", "NF", "NR",
                                                          "NS", "SP", "MF", "MR", "SF", "SR", "FR", "TI", "CH",
                                                          "TM", "SE", "SM", "CL", "?P", "?F", "?A", "?R", "?C"};

bool known(std::string_view code) {
    for (auto k : kKnownCodes) {
        if (k == code) return true;
    }
    return false;
}

bool takesArgument(std::string_view code) { return code == "SE" || code == "SM" || code == "SP"; }

// Parses an argument of at most `maxDigits` digits.
std::optional<int> number(const std::string& digits, std::size_t maxDigits) {
    if (digits.size() > maxDigits) return std::nullopt;
    return morvia::ParseDecimal(digits, morvia::DecimalSign::none);
}

std::string digitsReply(int value, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d\r", width, value);
    return buf;
}

}  // namespace

Player::Player(DiscLayout disc, PlayerTiming timing) : disc_(disc), timing_(timing) {
    if (disc_.titles < 1) disc_.titles = 1;
    if (disc_.chaptersPerTitle < 1) disc_.chaptersPerTitle = 1;
    if (disc_.framesPerChapter < 1) disc_.framesPerChapter = 1;
}

std::string Player::errorReply(Error e) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "E%02d\r", static_cast<int>(e));
    return buf;
}

std::optional<std::vector<Player::Token>> Player::parse(std::string_view line, Error& err) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < line.size()) {
        const std::size_t start = i;
        while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
        std::string digits(line.substr(start, i - start));
        if (i == line.size()) {
            err = Error::BadArgument;  // a number with no command after it
            return std::nullopt;
        }
        if (i + 1 >= line.size() || !known(line.substr(i, 2))) {
            err = Error::NotAvailable;
            return std::nullopt;
        }
        Token t{std::string(line.substr(i, 2)), std::move(digits)};
        i += 2;
        if (!t.digits.empty() && !takesArgument(t.code)) {
            err = Error::BadArgument;
            return std::nullopt;
        }
        tokens.push_back(std::move(t));
    }
    return tokens;
}

bool Player::ready() const {
    switch (mode_) {
        case Mode::Play:
        case Mode::Still:
        case Mode::Pause:
        case Mode::Scanning:
        case Mode::MultiSpeed: return true;
        default: return false;
    }
}

void Player::settle(Time now) {
    while (rate2_ != 0 && now > t0_) {
        const int r = std::abs(rate2_);
        const std::int64_t d = nsBetween(t0_, now) * r / kNsPerTwoSeconds;
        const std::int64_t length = disc_.framesPerTitle();
        if (rate2_ > 0) {
            const std::int64_t target = frame0_ + d;
            // The stop marker halts forward play on exactly its frame, in still.
            if (marker_ && (mode_ == Mode::Play || mode_ == Mode::MultiSpeed) && *marker_ > frame0_ &&
                target >= *marker_) {
                t0_ += travel(*marker_ - frame0_, r);
                frame0_ = *marker_;
                marker_.reset();
                rate2_ = 0;
                mode_ = Mode::Still;
                return;
            }
            if (target < length) return;
            if (title_ < disc_.titles) {
                // Runs on into the next title. Keeping t0_ and shifting the base frame keeps the
                // count exact across the boundary.
                ++title_;
                frame0_ -= length;
                marker_.reset();
                continue;
            }
            t0_ += travel(length - frame0_, r);
            frame0_ = length - 1;  // end of the disc: still on its last frame
            rate2_ = 0;
            mode_ = Mode::Still;
            return;
        }
        if (frame0_ - d > 0) return;
        t0_ += travel(frame0_, r);  // reverse motion stops on the title's first frame
        frame0_ = 0;
        rate2_ = 0;
        mode_ = Mode::Still;
        return;
    }
}

int Player::framesNow(Time now) const {
    if (rate2_ == 0 || now <= t0_) return static_cast<int>(frame0_);
    const std::int64_t d = nsBetween(t0_, now) * std::abs(rate2_) / kNsPerTwoSeconds;
    return static_cast<int>(rate2_ > 0 ? frame0_ + d : frame0_ - d);
}

void Player::moveAt(Time now, Mode mode, int rate2) {
    settle(now);
    frame0_ = framesNow(now);
    t0_ = now;
    mode_ = mode;
    rate2_ = rate2;
}

void Player::finishPending(Time at) {
    const Pending& p = *pending_;
    if (p.kind == Pending::Kind::SpinUp) {
        title_ = 1;
        frame0_ = 0;
        mode_ = Mode::Pause;
    } else {
        if (p.title != title_) marker_.reset();
        title_ = p.title;
        frame0_ = p.frame;
        mode_ = Mode::Still;
    }
    t0_ = at;
    rate2_ = 0;
}

std::optional<Time> Player::pendingDue() const {
    if (!pending_) return std::nullopt;
    return pending_->due;
}

std::optional<std::string> Player::completeDue(Time now) {
    if (!pending_ || pending_->due > now) return std::nullopt;
    finishPending(pending_->due);
    Pending p = std::move(*pending_);
    pending_.reset();
    return run(std::move(p.rest), 0, p.address, p.due);
}

void Player::setUnitOff(bool off, Time now) {
    unitOff_ = off;
    if (!off) return;
    settle(now);
    pending_.reset();
    marker_.reset();
    frame0_ = 0;
    t0_ = now;
    rate2_ = 0;
    mode_ = Mode::Park;
}

std::optional<std::string> Player::command(std::string_view line, Time now) {
    Error err{};
    auto tokens = parse(line, err);
    if (!tokens) return errorReply(err);
    if (tokens->empty()) return std::string("R\r");  // a bare carriage return clears
    if (tokens->size() == 1 && tokens->front().code[0] == '?') return query(tokens->front().code, now);
    if (tokens->size() == 1 && tokens->front().code == "CL") return std::string("R\r");
    for (const auto& t : *tokens) {
        if (t.code[0] == '?') return errorReply(Error::NotAvailable);  // queries stand alone
    }
    // A still or an end-of-scan arriving while a search runs is acknowledged and leaves the search
    // to finish: a controller that queues "NS", "ST" and a title search back to back may deliver
    // them in any order. Any other command abandons a running search: the player stays on the
    // frame it searched from and the abandoned command gets no reply.
    if (pending_ && pending_->kind == Pending::Kind::Search && tokens->size() == 1 &&
        (tokens->front().code == "ST" || tokens->front().code == "NS")) {
        return std::string("R\r");
    }
    if (pending_ && pending_->kind == Pending::Kind::Search) {
        pending_.reset();
        mode_ = Mode::Still;
    }
    return run(std::move(*tokens), 0, Address::Frame, now);
}

std::string Player::query(const std::string& code, Time now) {
    settle(now);
    if (code == "?P") return "P" + digitsReply(static_cast<int>(mode_), 2);
    if (!ready() && mode_ != Mode::Searching) return errorReply(Error::NotAvailable);
    const int f = framesNow(now);
    const int ch = std::min(f / disc_.framesPerChapter + 1, disc_.chaptersPerTitle);
    if (code == "?F") return digitsReply(f, 7);
    if (code == "?R") return digitsReply(title_, 2);
    if (code == "?C") return digitsReply(ch, 2);
    // "?A": title and chapter, two digits each.
    return digitsReply(title_ * 100 + ch, 4);
}

std::optional<std::string> Player::run(std::vector<Token> tokens, std::size_t from, Address address, Time now) {
    for (std::size_t i = from; i < tokens.size(); ++i) {
        bool startedJob = false;
        if (auto e = step(tokens[i], address, now, startedJob, tokens, i)) return errorReply(*e);
        if (startedJob) return std::nullopt;
    }
    return std::string("R\r");
}

std::optional<Error> Player::step(const Token& t, Address& address, Time now, bool& startedJob,
                                  std::vector<Token>& tokens, std::size_t index) {
    settle(now);
    const std::string& c = t.code;
    const int length = disc_.framesPerTitle();
    auto startJob = [&](Pending::Kind kind, std::chrono::milliseconds takes, int title, int frame) {
        Pending p{kind, now + takes, title, frame, {}, address};
        p.rest.assign(tokens.begin() + static_cast<std::ptrdiff_t>(index) + 1, tokens.end());
        pending_ = std::move(p);
        startedJob = true;
    };

    if (c == "CL") return std::nullopt;
    if (c == "SA") {
        if (mode_ == Mode::SettingUp) return Error::NotAvailable;
        if (mode_ != Mode::TrayOpen && mode_ != Mode::Park) return std::nullopt;  // already running
        if (unitOff_) {
            mode_ = Mode::Park;
            return std::nullopt;
        }
        moveAt(now, Mode::SettingUp, 0);
        startJob(Pending::Kind::SpinUp, timing_.spinup, 1, 0);
        return std::nullopt;
    }
    if (c == "OP") {
        pending_.reset();
        marker_.reset();
        moveAt(now, Mode::TrayOpen, 0);
        return std::nullopt;
    }
    if (c == "CO") {
        if (mode_ == Mode::TrayOpen) mode_ = Mode::Park;
        return std::nullopt;
    }
    if (c == "RJ") {
        if (mode_ == Mode::TrayOpen) return Error::NotAvailable;
        pending_.reset();
        marker_.reset();
        moveAt(now, Mode::Park, 0);
        return std::nullopt;
    }

    if (!ready()) return Error::NotAvailable;

    if (c == "PL") {
        moveAt(now, Mode::Play, kPlayRate2);
    } else if (c == "ST") {
        moveAt(now, Mode::Still, 0);
    } else if (c == "PA") {
        moveAt(now, Mode::Pause, 0);
    } else if (c == "NF" || c == "NR") {
        if (mode_ != Mode::Scanning) {
            beforeScan_ = (mode_ == Mode::Play || mode_ == Mode::MultiSpeed) ? Mode::Play
                          : mode_ == Mode::Pause                             ? Mode::Pause
                                                                             : Mode::Still;
        }
        moveAt(now, Mode::Scanning, c == "NF" ? kScanRate2 : -kScanRate2);
    } else if (c == "NS") {
        if (mode_ == Mode::Scanning) {
            moveAt(now, beforeScan_, beforeScan_ == Mode::Play ? kPlayRate2 : 0);
        }
    } else if (c == "SP") {
        const auto v = number(t.digits, 3);
        if (!v || *v < 1 || *v > 255) return Error::BadArgument;
        speed_ = *v;
    } else if (c == "MF" || c == "MR") {
        moveAt(now, Mode::MultiSpeed, c == "MF" ? speed_ : -speed_);
    } else if (c == "SF" || c == "SR") {
        moveAt(now, Mode::Still, 0);
        frame0_ = std::clamp<std::int64_t>(frame0_ + (c == "SF" ? 1 : -1), 0, length - 1);
    } else if (c == "FR") {
        address = Address::Frame;
    } else if (c == "TI") {
        address = Address::Title;
    } else if (c == "CH") {
        address = Address::Chapter;
    } else if (c == "TM") {
        address = Address::Time;
    } else if (c == "SE") {
        int title = title_;
        int frame = 0;
        switch (address) {
            case Address::Frame: {
                const auto v = number(t.digits, 7);
                if (!v) return Error::BadArgument;
                if (*v >= length) return Error::NotFound;
                frame = *v;
                break;
            }
            case Address::Title: {
                const auto v = number(t.digits, 2);
                if (!v) return Error::BadArgument;
                if (*v < 1 || *v > disc_.titles) return Error::NotFound;
                title = *v;
                break;
            }
            case Address::Chapter: {
                const auto v = number(t.digits, 2);
                if (!v) return Error::BadArgument;
                if (*v < 1 || *v > disc_.chaptersPerTitle) return Error::NotFound;
                frame = (*v - 1) * disc_.framesPerChapter;
                break;
            }
            case Address::Time: {  // h mm ss
                const auto v = number(t.digits, 5);
                if (!v) return Error::BadArgument;
                const int h = *v / 10000, m = *v / 100 % 100, s = *v % 100;
                if (m > 59 || s > 59) return Error::BadArgument;
                const std::int64_t f = ((h * 60LL + m) * 60 + s) * 30;
                if (f >= length) return Error::NotFound;
                frame = static_cast<int>(f);
                break;
            }
        }
        // While searching the player holds the frame it left, and reports it.
        moveAt(now, Mode::Searching, 0);
        startJob(Pending::Kind::Search, timing_.search, title, frame);
    } else if (c == "SM") {
        if (address != Address::Frame) return Error::NotAvailable;
        const auto v = number(t.digits, 7);
        if (!v) return Error::BadArgument;
        if (*v >= length) return Error::NotFound;
        marker_ = *v;
    }
    return std::nullopt;
}

Player Player::observed(Time now) const {
    Player p = *this;
    while (p.pending_ && p.pending_->due <= now) p.completeDue(now);
    p.settle(now);
    return p;
}

Mode Player::mode(Time now) const { return observed(now).mode_; }

int Player::frame(Time now) const { return observed(now).framesNow(now); }

int Player::title(Time now) const { return observed(now).title_; }

int Player::chapter(Time now) const {
    return std::min(frame(now) / disc_.framesPerChapter + 1, disc_.chaptersPerTitle);
}

std::optional<int> Player::stopMarker(Time now) const { return observed(now).marker_; }

}  // namespace dvdsim

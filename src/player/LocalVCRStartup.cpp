// Controller construction, the start-up dialogue with the player, shutdown
// and the logger window's opening and closing.
#include <chrono>
#include <string>

#include "player/LocalVCR.h"
#include "sessionlog/SessionLog.h"
#include "startup/Quenta.h"
#include "startup/Utils.h"

namespace morvia {
namespace {

constexpr int kStatusAttempts = 5;

// A mode reply "P04", "P05" or "P06": the disc is loaded and the player answers.
bool usableMode(const std::array<std::uint8_t, 16>& r) {
    return r[0] == 'P' && r[1] == '0' && (r[2] == '4' || r[2] == '5' || r[2] == '6');
}

}  // namespace

LocalVCR::LocalVCR(PlayerLink* link, Display& gui, int port) : sop(link), gui_(gui), socketport(port) {
    const Settings& settings = Quenta::settings();
    comport1 = settings.comport1;
    if (settings.mcs) {
        MCS = true;
        comport2 = settings.comport2;
    }
    useclipboard = Quenta::getuseclipboard();
    // The offset is taken quietly here so that a controller that never runs
    // start-up still converts timecodes; start-up reports a bad setting.
    const std::string offsetText = Quenta::getoffset();
    texts_.setOffset(offsetText);
    offset.store(timecode::TCFrames(offsetText).value_or(0));
}

LocalVCR::~LocalVCR() {
    try {
        stopPolling();
        if (sip) sip->stopme();
    } catch (...) {
        // A destructor never throws; a failing edit port stop is ignored.
    }
}

void LocalVCR::stopPolling() { polling_.stop(); }

void LocalVCR::setStartHooks(const StartHooks& hooks) { seams_.setLoggerFactory(hooks.makeLogger); }

void LocalVCR::startup(const StartHooks& hooks) {
    const sessionlog::Scope source("startup");
    setStartHooks(hooks);

    // The logger button stays off until the player has been started; the
    // network connect controls stay off for good.
    gui_.EnableLogger(false);
    gui_.EnableConnect(false);

    if (sop) sop->start();

    if (MCS) {
        if (hooks.makeEditPort) sip = hooks.makeEditPort(comport2);
        sipptr.store(sip.get());
        if (sip && sip->opened()) {
            const std::string text = "Serial Port " + comport2 + " Opened OK";
            ShowStat(text);
            Utils::OutLine(text);
            sip->setlocalvcr(this);
            sip->setlocalgui(&gui_);
            sip->setwait(50);
            sip->setsleeptime(50);
        } else {
            const std::string text = "Serial Port " + comport2 + " Unavailable";
            ShowStat(text);
            Utils::OutLine(text);
        }
    }

    MakeOffset();

    if (sip) sip->start();

    ShowStat("Starting Disc");
    Utils::OutLine("Starting Disc");
    CommandB0(bsstart);
    DelayT(5000);

    // The check reads the link's last reply, which normally answers an
    // earlier exchange: the reply to this attempt's query is seen by the next.
    bool ok = false;
    for (int attempt = 1; attempt <= kStatusAttempts; ++attempt) {
        CommandB0(bsstatus);
        const std::string text = "Checking DVD Status " + std::to_string(attempt);
        ShowStat(text);
        const auto reply = lastReply();
        Utils::OutLine(text + "  " + Utils::BS2S(reply.data(), reply.size(), 4));
        if (usableMode(reply)) {
            ShowStat("Status OK");
            ok = true;
            break;
        }
        DelayT(3000);
    }
    if (!ok) {
        ShowStat("Please Turn Unit ON");
        Utils::OutLine("Please Turn Unit ON");
        Utils::FailAndExit(5000, 0);
    }

    CommandB0(bspause);
    DelayT(1000);

    int title = Quenta::settings().starttitle;
    std::string titleText = Quenta::settings().startingtitle;
    if (title < 1 || title > 99) {
        // The title command has two digits; a title it cannot name would send
        // garbage, so start-up falls back to title 1.
        Utils::OutLine("StartTitle " + titleText + " out of range 1..99, starting at Title 1");
        title = 1;
        titleText = "1";
    }
    ShowStat("Starting at Title " + titleText);
    Utils::OutLine("Starting at Title " + titleText);
    curtitle.store(title);
    templates_.setTitle(title);
    curchapter.store(1);

    GetTC();
    autostart();
    DelayT(6000);
    setcue();
    play();
    GetTC();

    gui_.EnableLogger(true);
    Utils::OutLine("DVD-V7400 On " + comport1 + " Ready");
    Utils::OutLine(" ");
}

void LocalVCR::ShowStat(const std::string& text) {
    // Held against the periodic status refresh, which would otherwise replace
    // it within a third of a second, before the operator could read it.
    const auto until = Utils::clock()->now() + std::chrono::milliseconds(kStatusHoldMs);
    statusHeldUntil.store(until.time_since_epoch().count());
    gui_.ShowStatus(text);
}

bool LocalVCR::statusHeld() const { return Utils::clock()->now().time_since_epoch().count() < statusHeldUntil.load(); }

void LocalVCR::DelayT(int ms) { Utils::DelayT(ms); }

void LocalVCR::requestStop() {
    stopRequest_.raise();
    repeatStop_.raise();  // a client's pass under way ends where it is
}

void LocalVCR::closeRequested() {
    stopRequest_.latch();
    repeatStop_.latch();  // a client's pass under way ends too
    if (sop) {
        // Whatever anyone (an operation under way, a network client) asks of
        // the player from now on is refused: only the two stops go out.
        sop->closeGate();
        droppedAtClose_.fetch_add(sop->dropWaiting());
    }
}

void LocalVCR::windowClosing() {
    const sessionlog::Scope source("close");
    stopRequest_.latch();  // also when the close comes without a request
    repeatStop_.latch();
    if (sop) sop->closeGate();
    stopPolling();
    int dropped = droppedAtClose_.exchange(0);
    if (sop) dropped += sop->dropWaiting();
    if (dropped > 0)
        Utils::OutLine("Close: " + std::to_string(dropped) + (dropped == 1 ? " command" : " commands") +
                       " for the player dropped");
    finalStop();
    DelayT(500);
    finalStop();
    // Let the link put both stop commands on the line before the caller ends
    // the process.
    if (sop) sop->waitIdle(1000);
}

void LocalVCR::CommandBLogger() {
    if (seams_.openLogger()) gui_.EnableLogger(false);
}

void LocalVCR::loggerClosing() {
    gui_.EnableLogger(true);
    seams_.closeLogger();
}

std::shared_ptr<LoggerSeam> LocalVCR::getloggergui() const { return seams_.logger(); }

void LocalVCR::setconnectthread(std::shared_ptr<ClientSeam> client) { seams_.setClient(std::move(client)); }

std::shared_ptr<ClientSeam> LocalVCR::getconnectthread() const { return seams_.client(); }

}  // namespace morvia

#include "player/StatusText.h"

namespace morvia {

StatusView DescribeStatus(int code) {
    StatusView v;
    switch (code) {
        case status::kPlay:
            v.text += "Play ";
            v.lit.push_back(Control::bplay);
            break;
        case status::kForward:
            v.text += "FF ";
            v.lit.push_back(Control::bfwd);
            break;
        case status::kRewind:
            v.text += "REW ";
            v.lit.push_back(Control::brew);
            break;
        case status::kPause:
            v.text += "Pause ";
            v.lit.push_back(Control::bpause);
            break;
        default: break;
    }
    if (code < status::kStop) {
        v.standby = true;
    } else {
        v.standby = false;
        v.lit.push_back(Control::bstop);
    }
    if (code == status::kForward || code == status::kRewind) {
        v.text += "Shuttle ";
        v.lit.push_back(Control::vsb);
    }
    if (code == status::kJogForward || code == status::kJogReverse) {
        v.text += "Jog ";
        v.lit.push_back(code == status::kJogForward ? Control::bjogf : Control::bjogr);
    }
    return v;
}

}  // namespace morvia

// The controller's view of the main window: the display operations it calls
// and the fields it reads and writes. The Qt window implements it; tests use
// a recording double.
//
// Thread-safety: every operation may be called from any thread. Calls take
// effect in call order; a read (gettext) sees what the last call set.
#pragma once

#include <string>

namespace morvia {

// Text fields of the main window that other objects reach.
enum class Field { tcfield, cuefield, endfield, titlefield, chapterfield, statusfield, osfield, prfield, ipfield };

// Components that a highlight bar can mark.
enum class Control { brew, bpause, bstop, bplay, bfwd, bjogr, bjogf, vsb, cuefield, endfield };

// Backgrounds the controller gives to fields and buttons.
enum class Shade { background, grey, lightgrey, darkgrey };

class Display {
public:
    virtual ~Display() = default;

    virtual void TCIndicate(bool ok) = 0;
    virtual void hilightinout(bool in, bool out) = 0;
    virtual void hilight(Control c) = 0;
    virtual void clearbuttons() = 0;
    virtual void settcfield(const std::string& text, Field f) = 0;
    virtual std::string gettext(Field f) const = 0;
    virtual void ShowIP(const std::string& address) = 0;
    virtual void ShowTC(const std::string& tc) = 0;
    virtual void ShowStatus(const std::string& s) = 0;
    virtual void ShowPlay(bool on) = 0;
    virtual void EnableConnect(bool on) = 0;
    // Background of a text field (the out-point field goes grey while invalid).
    virtual void setFieldBackground(Field f, Shade shade) = 0;
    // The "Open Logger Window" button: enabled with a light grey background,
    // or disabled with a dark grey one.
    virtual void EnableLogger(bool on) = 0;
    // Replaces the system clipboard's text.
    virtual void setClipboard(const std::string& text) = 0;
};

}  // namespace morvia

// The main window's controls, one row each, in the order they are made (where
// bounds overlap the earlier one is on top): the window's construction, the
// rectangles the highlight marks and the tests look up, the action commands
// of the shared listener, the keys and the buttons' tooltips all come from
// these rows. A new control is one new row.
#pragma once

#include <QRect>
#include <Qt>

#include <array>
#include <optional>
#include <span>
#include <string>

#include "player/Display.h"

namespace morvia {

class LocalGUI;
class LocalVCR;

// A key that runs its control's action as a click does. While the
// controller's status code is `whenStatus`, the action command `alternate`
// runs instead (read on the action thread when the action's turn comes, as
// a click queued behind a long operation would see it).
struct ControlKey {
    int key = 0;  // 0: no key
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    const char* alternate = nullptr;
    int whenStatus = 0;
    const char* when = nullptr;  // how the tooltip says it: "while playing"
    bool repeats = false;        // each auto-repeat of a held key acts again
};

struct ControlRow {
    enum class Kind { button, field, label, shuttle };
    // shown: on the window at `rect`; hidden: on the window and wired, but
    // without a size, never seen; unplaced: made, never put on the window.
    enum class Place { shown, hidden, unplaced };
    // How a field looks: plain; timecode (the large font); clock (the
    // running timecode: large red on black, read-only); readout (read-only).
    enum class Look { plain, timecode, clock, readout };

    const char* name = "";  // the component's object name
    Kind kind = Kind::label;
    Place place = Place::shown;
    QRect rect{};
    const char* label = "";  // a button's or label's text, a field's first text
    // A button's action command for the shared listener, and what it does.
    const char* command = nullptr;
    void (*call)(LocalGUI&, LocalVCR&) = nullptr;
    // A button without a command: its own listener (action thread).
    void (LocalGUI::*clicked)() = nullptr;
    // A field's Enter listener (action thread), given the field's text.
    void (LocalGUI::*entered)(const std::string&) = nullptr;
    std::optional<Field> field{};    // the field a display operation reaches
    std::optional<Control> control{};  // the component a highlight bar marks
    int columns = 0;                 // a field's width in characters (0: not set)
    Look look = Look::plain;
    std::array<ControlKey, 2> keys{};
};

// The rows, in the order the window makes its components.
std::span<const ControlRow> windowControls();

// The row with this action command, field or highlight target; null when none.
const ControlRow* controlByCommand(const std::string& command);
const ControlRow* controlByField(Field f);
const ControlRow* controlByMark(Control c);

}  // namespace morvia

// Which window-system platform the toolkit starts on, and what that means for
// the clipboard.
//
// In a Wayland session Morvia runs through XWayland (Qt's `xcb` platform):
// a native Wayland client may set the clipboard only while it has the
// keyboard focus, so the timecode on the clipboard would stop moving exactly
// when the operator pastes it into another program. The operator's own choice
// (QT_QPA_PLATFORM, or `-platform NAME` on the command line) always wins.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace morvia {

// What the choice is made from: environment values (empty when unset) and the
// command-line arguments after the program name.
struct PlatformInputs {
    std::string qpaPlatform;     // QT_QPA_PLATFORM
    std::string sessionType;     // XDG_SESSION_TYPE
    std::string waylandDisplay;  // WAYLAND_DISPLAY
    std::string display;         // DISPLAY
    std::vector<std::string> args;
};

// The platform to hand the toolkit as `-platform NAME`, or empty to leave the
// choice to the toolkit (it then reads QT_QPA_PLATFORM or picks its default).
// `-platform NAME` (or `--platform NAME`) among the arguments gives NAME; the
// other arguments are ignored.
std::string choosePlatform(const PlatformInputs& in);

// False when the platform (Qt's platform name) lets a program set the
// clipboard only while one of its windows has the focus: native Wayland.
bool clipboardFollowsTimecode(std::string_view platformName);

// The console line when the clipboard setting is on but the platform cannot
// follow the timecode: Morvia then leaves the clipboard alone.
inline constexpr std::string_view kClipboardOffOnWayland =
    "Clipboard off: natively on Wayland the clipboard cannot follow the timecode while another program has "
    "the focus; start Morvia through XWayland (QT_QPA_PLATFORM=xcb) to use UseClipboard=YES";

// The toolkit's argc and argv: the program name and, when a platform was
// chosen, `-platform NAME`. Built from the process's environment and
// arguments; it must outlive the QApplication made from it.
class ToolkitArgs {
public:
    ToolkitArgs(int argc, char** argv);
    ToolkitArgs(const ToolkitArgs&) = delete;
    ToolkitArgs& operator=(const ToolkitArgs&) = delete;
    int& argc() { return argc_; }
    char** argv() { return ptrs_.data(); }

private:
    std::vector<std::string> strings_;
    std::vector<char*> ptrs_;
    int argc_ = 0;
};

}  // namespace morvia

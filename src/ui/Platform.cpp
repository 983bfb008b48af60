#include "ui/Platform.h"

#include <cstdlib>

namespace morvia {

std::string choosePlatform(const PlatformInputs& in) {
    for (std::size_t i = 0; i + 1 < in.args.size(); ++i) {
        if ((in.args[i] == "-platform" || in.args[i] == "--platform") && !in.args[i + 1].empty())
            return in.args[i + 1];
    }
    if (!in.qpaPlatform.empty()) return {};
    const bool waylandSession = in.sessionType == "wayland" || !in.waylandDisplay.empty();
    // Without an X display (no XWayland) there is nothing else to run on.
    if (waylandSession && !in.display.empty()) return "xcb";
    return {};
}

bool clipboardFollowsTimecode(std::string_view platformName) { return !platformName.starts_with("wayland"); }

namespace {
std::string envText(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}
}  // namespace

ToolkitArgs::ToolkitArgs(int argc, char** argv) {
    PlatformInputs in{envText("QT_QPA_PLATFORM"), envText("XDG_SESSION_TYPE"), envText("WAYLAND_DISPLAY"),
                      envText("DISPLAY"), {}};
    for (int i = 1; i < argc; ++i) in.args.emplace_back(argv[i] ? argv[i] : "");
    strings_.emplace_back(argc > 0 && argv[0] ? argv[0] : "morvia");
    if (std::string platform = choosePlatform(in); !platform.empty()) {
        strings_.emplace_back("-platform");
        strings_.push_back(std::move(platform));
    }
    for (auto& s : strings_) ptrs_.push_back(s.data());
    ptrs_.push_back(nullptr);
    argc_ = static_cast<int>(strings_.size());
}

}  // namespace morvia

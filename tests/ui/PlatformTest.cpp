// The toolkit platform Morvia starts on, and when the clipboard is given up.
#include <gtest/gtest.h>

#include "ui/Platform.h"

namespace morvia::test {
namespace {

TEST(Platform, XWaylandInAWaylandSessionUnlessTheOperatorChose) {
    struct Case {
        const char* what;
        PlatformInputs in;
        const char* platform;  // "": the toolkit's own choice
    };
    const Case cases[] = {
        {"X11 session", {"", "x11", "", ":0", {}}, ""},
        {"Wayland session with XWayland", {"", "wayland", "wayland-0", ":0", {}}, "xcb"},
        {"Wayland display without a session type", {"", "", "wayland-1", ":1", {}}, "xcb"},
        {"session type without a Wayland display", {"", "wayland", "", ":0", {}}, "xcb"},
        {"Wayland session without XWayland", {"", "wayland", "wayland-0", "", {}}, ""},
        {"no display at all", {"", "", "", "", {}}, ""},
        {"QT_QPA_PLATFORM wins", {"wayland", "wayland", "wayland-0", ":0", {}}, ""},
        {"-platform wins over everything", {"offscreen", "wayland", "wayland-0", ":0", {"-platform", "wayland"}}, "wayland"},
        {"--platform is the same", {"", "", "", "", {"--platform", "offscreen"}}, "offscreen"},
        {"other arguments are ignored", {"", "wayland", "wayland-0", ":0", {"-style", "fusion", "x"}}, "xcb"},
        {"-platform without a name is ignored", {"", "wayland", "wayland-0", ":0", {"-platform"}}, "xcb"},
        {"-platform with an empty name is ignored", {"", "", "", ":0", {"-platform", ""}}, ""},
        {"a later argument after -platform NAME", {"", "", "", "", {"a", "-platform", "xcb", "b"}}, "xcb"},
    };
    for (const auto& c : cases) EXPECT_EQ(choosePlatform(c.in), c.platform) << c.what;

    for (const char* name : {"wayland", "wayland-egl", "wayland-brcm"}) EXPECT_FALSE(clipboardFollowsTimecode(name)) << name;
    for (const char* name : {"xcb", "offscreen", "minimal"}) EXPECT_TRUE(clipboardFollowsTimecode(name)) << name;
}

TEST(Platform, ToolkitArgumentsCarryOnlyTheProgramAndThePlatform) {
    char prog[] = "morvia", p[] = "-platform", name[] = "minimal", junk[] = "--verbose";
    char* argv[] = {prog, junk, p, name, nullptr};
    ToolkitArgs args(4, argv);
    ASSERT_EQ(args.argc(), 3);
    EXPECT_STREQ(args.argv()[0], "morvia");
    EXPECT_STREQ(args.argv()[1], "-platform");
    EXPECT_STREQ(args.argv()[2], "minimal");
    EXPECT_EQ(args.argv()[3], nullptr);
}

}  // namespace
}  // namespace morvia::test

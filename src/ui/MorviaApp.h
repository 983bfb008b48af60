// The application: Qt on the main thread, start-up on a thread of its own,
// every window action on the action thread.
//
// runApp reads the settings before the window toolkit starts (so a missing
// file ends the program even where no display is available), builds the
// (hidden) main window on the main thread, then starts the start-up thread,
// which opens the player's port, shows
// the window, builds the controller with it and runs the start-up dialogue
// with the player; the main thread meanwhile runs the Qt event loop. The
// process ends through Utils::Exit: when the operator closes the window
// (after the stop commands went out), or when start-up gives up.
//
// Environment hooks for demonstrations and tests (all optional):
//   MORVIA_SCREENSHOT=path   once start-up is complete and the window has
//                            settled (about 1.5 s), save a picture of the
//                            window to `path` (PNG).
//   MORVIA_DEMO_SCRIPT=1     after that, press "Script"; once the script has
//                            ended and the player has received its commands
//                            (at most 2 s more), close the window.
//   MORVIA_DEMO_SCRIPT=now   the same, but close the window the moment the
//                            script has ended.
//   MORVIA_DEMO_SCRIPT=keep  the same, but leave the window open (close it
//                            with SIGTERM).
//   MORVIA_SHOWN_STAMP=path  when the window is shown, write the monotonic
//                            clock in milliseconds to `path` (benchmarks).
// SIGTERM and SIGINT close the window as the operator would; during a
// start-up failure pause they end the process with that failure's status.
// SIGPIPE is ignored. Of the command-line arguments only `-platform NAME` is
// used (ui/Platform.h chooses the platform); the others are ignored.
#pragma once

namespace morvia {

int runApp(int argc, char** argv);

}  // namespace morvia

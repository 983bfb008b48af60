// Entry point: the program (Qt event loop, start-up thread, action thread,
// window and player system) is the App, run by runApp.
#include "ui/App.h"

int main(int argc, char** argv) { return morvia::runApp(argc, argv); }

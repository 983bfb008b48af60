// Entry point: the application (Qt event loop, start-up thread, action
// thread) lives in runApp.
#include "ui/MorviaApp.h"

int main(int argc, char** argv) { return morvia::runApp(argc, argv); }

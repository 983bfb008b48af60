// The one test for "this runs on the Qt thread": the thread that runs the
// application's event loop (the one that made the QCoreApplication).
#pragma once

#include <QCoreApplication>
#include <QThread>

#include "startup/Require.h"

namespace morvia {

// True on the Qt thread; false on any other, and when there is no
// application object.
inline bool onQtThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

// Ends the process with "`who`: `why`" when called off the Qt thread.
inline void requireQtThread(const char* who, const char* why) { require(onQtThread(), who, why); }

}  // namespace morvia

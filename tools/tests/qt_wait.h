#pragma once

// Bounded waits on the event loop for tests of sockets, timers and child processes: the loop
// runs until the condition holds or the time is up, and the caller checks which.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

namespace tools::testing_support {

inline constexpr int kWaitMs = 5000;  // long enough for a loaded machine, short for a hang

template <typename Condition>
[[nodiscard]] bool waitFor(Condition done, int timeoutMs = kWaitMs) {
    QElapsedTimer clock;
    clock.start();
    // Wakes the loop now and then so that a condition that no event announces is still seen.
    QTimer tick;
    tick.start(2);
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Runs the event loop for a while whatever happens, to show that something does not happen.
inline void spinFor(int ms) {
    QElapsedTimer clock;
    clock.start();
    static_cast<void>(waitFor([&] { return clock.elapsed() >= ms; }, ms + kWaitMs));
}

}  // namespace tools::testing_support

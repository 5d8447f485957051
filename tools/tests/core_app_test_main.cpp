// GoogleTest main for tests of sockets, timers and child processes: they need an event loop,
// which a QCoreApplication provides without any display.

#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

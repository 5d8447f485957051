#include "sender/rs_bar.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

namespace sender {
namespace {

// A bar as the window has it before the first encode: 254 pixels high, range 4..254.
struct BarFixture : testing::Test {
    void SetUp() override {
        bar.setGeometry(0, 0, 24, 254);
        bar.configure(rsBarRange(kRsRowsBeforeEncode), kRsBarStart);
        QObject::connect(&bar, &RsBar::positionChanged,
                         [this](int p) { bar.setText(QString::number(p)); });
        bar.setText(QString::number(bar.position()));
        bar.show();
        bar.activateWindow();
        static_cast<void>(QTest::qWaitForWindowActive(&bar));
    }
    RsBar bar;
};

TEST_F(BarFixture, KeysMoveTheBarWithinItsRange) {
    QSignalSpy released(&bar, &RsBar::released);
    QTest::keyClick(&bar, Qt::Key_Up);
    EXPECT_EQ(bar.position(), 33);
    QTest::keyClick(&bar, Qt::Key_PageDown);
    EXPECT_EQ(bar.position(), 23);
    QTest::keyClick(&bar, Qt::Key_Home);
    EXPECT_EQ(bar.position(), 254);
    EXPECT_EQ(bar.text(), "254");  // the number follows at once
    QTest::keyClick(&bar, Qt::Key_Up);
    EXPECT_EQ(bar.position(), 254);
    QTest::keyClick(&bar, Qt::Key_End);
    EXPECT_EQ(bar.position(), 4);
    EXPECT_EQ(bar.text(), "4");
    EXPECT_EQ(released.count(), 0);  // keys never ask for an encode
}

TEST_F(BarFixture, DraggingToTheTopGivesHighMinusOneAndReleaseAsksForAnEncode) {
    QSignalSpy released(&bar, &RsBar::released);
    QSignalSpy moved(&bar, &RsBar::positionChanged);
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(12, 127));
    EXPECT_EQ(bar.position(), 254 - 126);  // 126.5 rounded to even
    QTest::mouseMove(&bar, QPoint(12, 0));
    EXPECT_EQ(bar.position(), 253);
    EXPECT_EQ(released.count(), 0);
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(12, 0));
    EXPECT_EQ(released.count(), 1);
    EXPECT_EQ(bar.text(), "253");
    EXPECT_EQ(moved.count(), 2);
}

TEST_F(BarFixture, DraggingBelowTheBarGivesTheLowLimit) {
    QTest::mousePress(&bar, Qt::RightButton, {}, QPoint(12, 300));
    EXPECT_EQ(bar.position(), 4);
    EXPECT_EQ(QApplication::focusWidget(), &bar);
}

TEST_F(BarFixture, MovesWithoutAButtonDoNothing) {
    QTest::mouseMove(&bar, QPoint(12, 10));
    EXPECT_EQ(bar.position(), 32);
}

TEST_F(BarFixture, ReconfiguringClampsAndReportsOnlyRealChanges) {
    QSignalSpy moved(&bar, &RsBar::positionChanged);
    bar.configure(rsBarRange(200), 32);  // 4..55
    EXPECT_EQ(moved.count(), 0);
    bar.configure(rsBarRange(240), 32);  // 4..15
    EXPECT_EQ(bar.position(), 15);
    EXPECT_EQ(moved.count(), 1);
}

}  // namespace
}  // namespace sender

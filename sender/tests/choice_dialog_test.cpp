#include "sender/choice_dialog.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "sender/about_help.h"

namespace sender {
namespace {

// The frame-rate dialog as the window opens it, shown modeless so the test can click it.
struct RateDialog : testing::Test {
    void SetUp() override { dialog.show(); }
    void click(const char* id) {
        auto* button = dialog.findChild<QAbstractButton*>(QString::fromLatin1(id));
        ASSERT_NE(button, nullptr) << id;
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QComboBox* list() { return dialog.findChild<QComboBox*>("ctl1525"); }

    ChoiceDialog dialog{"Select frame rate for AVI/MPG replay", " 3", kMovieRateChoices,
                        "Frame rate (seconds)"};
};

TEST_F(RateDialog, ShowsItsControlsAndTexts) {
    EXPECT_EQ(dialog.windowTitle(), "Frame rate (seconds)");
    EXPECT_EQ(dialog.findChild<QLabel*>("ctl1526")->text(), "Select frame rate for AVI/MPG replay");
    ASSERT_NE(list(), nullptr);
    EXPECT_EQ(list()->count(), 5);
    EXPECT_EQ(list()->itemText(4), "6");
    EXPECT_EQ(list()->currentText(), "0.1");  // the default text is never shown itself
    EXPECT_EQ(dialog.findChild<QAbstractButton*>("ctl254")->text(), "Accept");
    EXPECT_EQ(dialog.findChild<QAbstractButton*>("ctl255")->text(), "Cancel");
    EXPECT_EQ(dialog.findChild<QAbstractButton*>("ctl253")->text(), "Clear");
    EXPECT_EQ(dialog.palette().color(QPalette::Window), QColor(139, 197, 197));
    EXPECT_TRUE(dialog.isModal());
}

TEST_F(RateDialog, AcceptAtOnceGivesTheFirstChoice) {
    click("ctl254");
    EXPECT_EQ(dialog.answer(), "0.1");
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(RateDialog, TypedTextIsTheAnswer) {
    QLineEdit* edit = list()->lineEdit();
    edit->selectAll();
    QTest::keyClicks(edit, "2.5");
    click("ctl254");
    EXPECT_EQ(dialog.answer(), "2.5");
}

TEST_F(RateDialog, PickedChoiceIsTheAnswer) {
    list()->setCurrentIndex(3);
    Q_EMIT list()->activated(3);
    click("ctl254");
    EXPECT_EQ(dialog.answer(), "3");
}

TEST_F(RateDialog, ClearThenAcceptGivesNothing) {
    click("ctl253");
    EXPECT_TRUE(list()->currentText().isEmpty());
    click("ctl254");
    EXPECT_EQ(dialog.answer(), "");
}

TEST_F(RateDialog, CancelAndClosingGiveNothing) {
    click("ctl255");
    EXPECT_EQ(dialog.answer(), "");
    ChoiceDialog closed("p", "x", {"a"}, "c");
    closed.show();
    closed.close();
    EXPECT_EQ(closed.answer(), "");
}

TEST(Notes, AboutAndHelpCarryTheirTexts) {
    std::unique_ptr<QDialog> about(makeAboutDialog(nullptr));
    EXPECT_EQ(about->windowTitle(), "About \"Vistrel\"");
    EXPECT_EQ(about->findChild<QLabel*>("ctl10001")->text(), "Vistrel\nencoder");
    const QString credits = about->findChild<QLabel*>("ctl10002")->text();
    EXPECT_TRUE(credits.contains("Version 1.0 Build 26.01.09"));
    EXPECT_TRUE(credits.contains("This version:January 2009"));
    EXPECT_EQ(about->palette().color(QPalette::Window), QColor(159, 220, 220));
    EXPECT_TRUE(about->isModal());

    std::unique_ptr<QDialog> help(makeHelpDialog(nullptr));
    EXPECT_EQ(help->windowTitle(), "HELP notes");
    EXPECT_EQ(help->findChild<QLabel*>("ctl10001")->text(), "Vistrel encoder");
    EXPECT_EQ(
        help->findChild<QLabel*>("ctl10002")->text().split('\n'),
        (QStringList{"1. Drag and drop picture files", "2. Adjust AVI playback rate if needed",
                     "3. Video accelerator needs to set to low to capture MPG's",
                     "4. A better help file is needed! Should call up an HTML file instead "
                     "of this."}));
    EXPECT_EQ(help->palette().color(QPalette::Window), QColor(255, 255, 223));
    EXPECT_EQ(help->findChild<QLabel*>("ctl10001")->font().pointSize(), 14);
}

}  // namespace
}  // namespace sender

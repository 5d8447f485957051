#include "player/control_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QUrl>
#include <functional>
#include <memory>

#include "media/movie_source.h"
#include "player/export_dialog.h"
#include "player/tests/test_movie.h"
#include "player/viewer_window.h"

namespace player {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 30;
constexpr int kHeight = 20;
constexpr uint64_t kSeed = 77;

// Answers the next modal window (message box or dialog) from inside its exec(): answer gets
// the window and must close it. Gives up after about two seconds, so a box that never comes
// fails the test instead of hanging it.
void whenModal(std::function<void(QWidget*)> answer) {
    auto* poll = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, [poll, tries, answer] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr && ++*tries < 400) {
            return;
        }
        poll->stop();
        poll->deleteLater();
        if (modal != nullptr) {
            answer(modal);
        }
    });
    poll->start(5);
}

// The text and caption of the next message box, closed with button.
struct SeenBox {
    QString caption;
    QString text;
    QString defaultButton;
};
void answerBox(SeenBox& seen, QMessageBox::StandardButton button = QMessageBox::Ok) {
    whenModal([&seen, button](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr) << "expected a message box, got "
                                << modal->metaObject()->className();
        seen.caption = box->windowTitle();
        seen.text = box->text();
        if (box->defaultButton() != nullptr) {
            seen.defaultButton = box->defaultButton()->text();
        }
        box->done(button);
    });
}

// The export dialog: accept with the codec at index, or cancel.
void answerExport(bool accept, int codecIndex = 0) {
    whenModal([accept, codecIndex](QWidget* modal) {
        auto* dialog = dynamic_cast<ExportDialog*>(modal);
        ASSERT_NE(dialog, nullptr) << "expected the export dialog";
        dialog->findChild<QComboBox*>("codec")->setCurrentIndex(codecIndex);
        accept ? dialog->accept() : dialog->reject();
    });
}

std::vector<uint32_t> shownPixels(const ControlWindow& window) {
    const QImage& image = window.viewer()->image();
    std::vector<uint32_t> pixels;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            pixels.push_back(row[x] & 0xFFFFFF);
        }
    }
    return pixels;
}

// Controls are named "ctl" and their identifier; the tests give the identifier alone.
template <typename T>
T* child(const QObject& window, const char* id) {
    const QString name = id[0] >= '0' && id[0] <= '9' ? QStringLiteral("ctl") + QLatin1String(id)
                                                      : QString::fromLatin1(id);
    T* found = window.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << "no " << name.toStdString();
    return found;
}

class MovieWindow : public testing::Test {
protected:
    void SetUp() override {
        movie_ = dir_.file("a.tv");
        records_ = test::writeSeededMovie(movie_, kSeed, 3, kWidth, kHeight);
        window_.show();
    }

    void openA() { ASSERT_TRUE(window_.openMovie(movie_).ok); }
    QString status() { return child<QLabel>(window_, "415")->text(); }
    QString label() { return child<QLabel>(window_, "103")->text(); }
    void trigger(const char* name) { child<QAction>(window_, name)->trigger(); }

    test::TempDir dir_;
    fs::path movie_;
    std::vector<std::vector<uint32_t>> records_;
    ControlWindow window_;
};

TEST_F(MovieWindow, ControlsMenusAndTexts) {
    EXPECT_EQ(window_.windowTitle(), "Lumra universal movie viewer");
    EXPECT_EQ(window_.centralWidget()->size(), QSize(425, 80));
    EXPECT_EQ(child<QPushButton>(window_, "408")->geometry(), QRect(0, 0, 25, 25));
    EXPECT_EQ(child<QLabel>(window_, "103")->geometry(), QRect(25, 0, 25, 25));
    EXPECT_EQ(child<QSlider>(window_, "416")->geometry(), QRect(50, 0, 315, 25));
    EXPECT_EQ(child<QLabel>(window_, "415")->geometry(), QRect(0, 30, 365, 25));
    EXPECT_EQ(child<QPushButton>(window_, "600")->geometry(), QRect(368, 3, 53, 53));
    EXPECT_EQ(child<QPushButton>(window_, "600")->text(), "Make AVI");
    EXPECT_FALSE(child<QPushButton>(window_, "600")->isEnabled());

    const std::pair<const char*, const char*> items[] = {{"401", "Open"},
                                                         {"402", "Exit"},
                                                         {"421", "10fps"},
                                                         {"420", "6fps"},
                                                         {"423", "3fps"},
                                                         {"422", "1fps"},
                                                         {"428", "&Picture Adjust"},
                                                         {"501", "RGB"},
                                                         {"502", "BGR"},
                                                         {"409", "Help"},
                                                         {"410", "About"}};
    for (const auto& [name, text] : items) {
        EXPECT_EQ(child<QAction>(window_, name)->text(), text) << name;
    }
    EXPECT_TRUE(child<QAction>(window_, "421")->isChecked());
    EXPECT_TRUE(child<QAction>(window_, "502")->isChecked());
    QStringList menus;
    for (QAction* action : window_.menuBar()->actions()) {
        menus << action->text();
    }
    EXPECT_EQ(menus,
              QStringList({"&File", "&Replay speed", "&Picture Adjust", "Colour format", "&Help"}));

    SeenBox help;
    answerBox(help);
    trigger("409");
    EXPECT_EQ(help.caption, "HELP notes");
    EXPECT_EQ(help.text,
              "Load any Lumra bitmap movie file and that's it!\nOr drag and drop onto the main "
              "control window");
    SeenBox about;
    answerBox(about);
    trigger("410");
    EXPECT_EQ(about.caption, "Movie Viewer");
    EXPECT_TRUE(about.text.startsWith("Lumra bitmap movie viewer and AVI maker\n\n"))
        << about.text.toStdString();
}

TEST_F(MovieWindow, ThreeRecordsPlayOneTwoThreeOneAndPauseHolds) {
    SCOPED_TRACE(testing::Message() << "seed " << kSeed);
    openA();
    EXPECT_EQ(window_.viewer()->windowTitle(), "TV Viewer");
    EXPECT_EQ(window_.viewer()->size(), QSize(kWidth, kHeight));
    EXPECT_TRUE(window_.viewer()->isVisible());
    EXPECT_EQ(status(), "Playing \"a.tv\" at 10 frames per sec");
    EXPECT_EQ(child<QSlider>(window_, "416")->maximum(), 3);
    EXPECT_EQ(window_.timer().interval(), 100);
    EXPECT_TRUE(window_.timer().isActive());
    EXPECT_EQ(child<QPushButton>(window_, "408")->toolTip(), "Pause");

    // The timer drives the ticks; its signal is raised here instead of waiting 100 ms.
    ASSERT_TRUE(QMetaObject::invokeMethod(&window_.timer(), "timeout"));
    EXPECT_EQ(window_.state().shownFrame, 1);
    ASSERT_TRUE(window_.openMovie(movie_).ok);

    for (const int expected : {1, 2, 3, 1}) {
        window_.tick();
        ASSERT_EQ(shownPixels(window_), records_[static_cast<size_t>(expected - 1)])
            << "expected record " << expected;
        EXPECT_EQ(label(), QString(" %1").arg(expected));
        EXPECT_EQ(child<QSlider>(window_, "416")->value(), expected);
    }
    window_.tick();  // record 2 on screen
    child<QPushButton>(window_, "408")->click();
    EXPECT_EQ(child<QPushButton>(window_, "408")->toolTip(), "Play");
    for (int i = 0; i < 3; ++i) {
        window_.tick();
        ASSERT_EQ(shownPixels(window_), records_[1]) << "paused tick " << i;
    }
    child<QPushButton>(window_, "408")->click();
    window_.tick();
    window_.tick();
    EXPECT_EQ(shownPixels(window_), records_[2]);
}

TEST_F(MovieWindow, SliderPicksTheNextFrame) {
    openA();
    window_.tick();
    auto* slider = child<QSlider>(window_, "416");
    slider->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(label(), " 3");
    window_.tick();
    EXPECT_EQ(shownPixels(window_), records_[2]);
}

TEST_F(MovieWindow, RgbShowsRedAsBlue) {
    test::writeMovie(dir_.file("red.tv"), 4, 2, {test::flatRecord(0x00FF0000, 4, 2)});
    ASSERT_TRUE(window_.openMovie(dir_.file("red.tv")).ok);
    window_.tick();
    EXPECT_EQ(shownPixels(window_), std::vector<uint32_t>(8, 0xFF0000));
    trigger("501");
    EXPECT_TRUE(child<QAction>(window_, "501")->isChecked());
    EXPECT_FALSE(child<QAction>(window_, "502")->isChecked());
    window_.tick();
    EXPECT_EQ(shownPixels(window_), std::vector<uint32_t>(8, 0x0000FF));
    trigger("502");
    window_.tick();
    EXPECT_EQ(shownPixels(window_), std::vector<uint32_t>(8, 0xFF0000));
}

TEST_F(MovieWindow, SpeedMenuSetsTimerAndStatus) {
    openA();
    trigger("423");
    EXPECT_EQ(window_.timer().interval(), 330);
    EXPECT_EQ(status(), "Playing \"a.tv\" at 3 frames per sec");
    EXPECT_TRUE(child<QAction>(window_, "423")->isChecked());
    trigger("422");
    EXPECT_EQ(window_.timer().interval(), 1000);
    trigger("420");
    EXPECT_EQ(window_.timer().interval(), 150);
    EXPECT_EQ(status(), "Playing \"a.tv\" at 6 frames per sec");
    // A movie opened later keeps the chosen speed, as the status line says.
    ASSERT_TRUE(window_.openMovie(movie_).ok);
    EXPECT_EQ(window_.timer().interval(), 150);
    EXPECT_EQ(status(), "Playing \"a.tv\" at 6 frames per sec");
}

TEST_F(MovieWindow, PictureDialogAdjustsAndOnlyOneOpens) {
    openA();
    trigger("428");
    trigger("428");
    EXPECT_EQ(window_.findChildren<QDialog*>("pictureDialog").size(), 1);
    auto* dialog = child<QDialog>(window_, "pictureDialog");
    EXPECT_EQ(dialog->windowTitle(), "Picture");
    auto* brightness = child<QSlider>(*dialog, "429");
    auto* contrast = child<QSlider>(*dialog, "430");
    EXPECT_EQ(brightness->value(), 256);
    EXPECT_EQ(contrast->value(), 10);
    EXPECT_EQ(brightness->maximum(), 512);
    EXPECT_EQ(contrast->maximum(), 20);

    // Top of the slider is brightness 0: everything white.
    brightness->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(window_.adjust().brightness, 0);
    window_.tick();
    EXPECT_EQ(shownPixels(window_), std::vector<uint32_t>(kWidth * kHeight, 0xFFFFFF));

    child<QPushButton>(*dialog, "431")->click();
    EXPECT_EQ(brightness->value(), 256);
    window_.tick();
    EXPECT_EQ(shownPixels(window_), records_[1]);

    child<QPushButton>(*dialog, "432")->click();
    EXPECT_EQ(brightness->value(), 0);
    EXPECT_EQ(window_.adjust().brightness, 0);

    contrast->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(window_.adjust().contrast, 20);
    dialog->close();
    QApplication::processEvents();
    trigger("428");  // a new dialog starts from the current values
    auto* again = child<QDialog>(window_, "pictureDialog");
    EXPECT_EQ(child<QSlider>(*again, "430")->value(), 20);
    EXPECT_EQ(child<QSlider>(*again, "429")->value(), 0);
}

TEST_F(MovieWindow, SecondMovieReusesTheViewerAndRefusedFilesKeepTheFirst) {
    openA();
    window_.tick();
    ViewerWindow* viewer = window_.viewer();
    test::writeSeededMovie(dir_.file("b.tv"), kSeed + 1, 2, 50, 40);
    ASSERT_TRUE(window_.openMovie(dir_.file("b.tv")).ok);
    EXPECT_EQ(window_.viewer(), viewer);
    EXPECT_EQ(window_.findChildren<QWidget*>("viewer").size(), 1);
    EXPECT_EQ(viewer->size(), QSize(50, 40));
    EXPECT_EQ(child<QSlider>(window_, "416")->maximum(), 2);

    test::writeBytes(dir_.file("tiny.tv"), {0x1E, 0, 0, 0, 0x14});
    std::vector<uint8_t> underHalf(8 + 1000, 0);  // half a 30 x 20 record is 1204 bytes
    underHalf[0] = 30;
    underHalf[4] = 20;
    test::writeBytes(dir_.file("short.tv"), underHalf);
    test::writeBytes(dir_.file("huge.tv"), {0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 1});
    for (const char* name : {"tiny.tv", "short.tv", "huge.tv", "missing.tv"}) {
        SeenBox seen;
        answerBox(seen);
        EXPECT_FALSE(window_.openMovie(dir_.file(name)).ok);
        EXPECT_TRUE(seen.text.contains(name)) << seen.text.toStdString();
        EXPECT_EQ(window_.state().moviePath, dir_.file("b.tv"));
        EXPECT_EQ(viewer->size(), QSize(50, 40));
        EXPECT_TRUE(window_.timer().isActive());
        EXPECT_EQ(status(), "Playing \"b.tv\" at 10 frames per sec");
    }
    window_.tick();
    EXPECT_EQ(window_.state().shownFrame, 1);
}

TEST_F(MovieWindow, DropsTakeOnlyLowerCaseTv) {
    const fs::path upper = dir_.file("UP.TV");
    fs::copy_file(movie_, upper);
    SeenBox seen;
    answerBox(seen);
    window_.fileDropped(QString::fromStdString(upper.string()));
    EXPECT_EQ(seen.text, "Not a *.TV file!");
    EXPECT_EQ(window_.state().count, 0);

    // The same file through File > Open is taken.
    QString title;
    QStringList filters;
    whenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr) << "expected the file dialog";
        title = dialog->windowTitle();
        filters = dialog->nameFilters();
        dialog->selectFile(QString::fromStdString(upper.string()));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    trigger("401");
    EXPECT_EQ(title, "Open File");
    EXPECT_EQ(filters, QStringList({"Lumra movie files (*.tv)", "All Files (*)"}));
    EXPECT_EQ(window_.state().moviePath, upper);

    // A real drop event, answered after the drop returns.
    auto* mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(QString::fromStdString(movie_.string()))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window_, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window_, &drop);
    QApplication::processEvents();
    EXPECT_EQ(window_.state().moviePath, movie_);
    delete mime;
}

TEST_F(MovieWindow, MakeAviWritesEveryRecordIntoTheCurrentDirectory) {
    SCOPED_TRACE(testing::Message() << "seed " << kSeed);
    test::InDirectory here(dir_.path());
    openA();
    trigger("423");
    answerExport(true);
    child<QPushButton>(window_, "600")->click();
    EXPECT_EQ(status(), "Finished!");
    media::MovieSource source;
    ASSERT_TRUE(source.open(dir_.file("a.avi").string()).ok);
    EXPECT_EQ(source.frameCount(), 3);
    EXPECT_DOUBLE_EQ(source.framesPerSecond(), 3.0);
    for (int k = 0; k < 3; ++k) {
        std::vector<uint32_t> pixels = source.frameAt(k).pixels;
        for (uint32_t& p : pixels) {
            p &= 0xFFFFFF;
        }
        EXPECT_EQ(pixels, records_[static_cast<size_t>(k)]) << "frame " << k;
    }
    // The player goes on with its movie.
    EXPECT_TRUE(window_.timer().isActive());
    window_.tick();
    EXPECT_EQ(window_.state().shownFrame, 1);
}

TEST_F(MovieWindow, MakeAviAsksBeforeOverwritingAndCancelLeavesFilesAlone) {
    test::InDirectory here(dir_.path());
    openA();
    const std::vector<uint8_t> old(100, 'x');
    test::writeBytes(dir_.file("a.avi"), old);

    SeenBox seen;
    answerBox(seen, QMessageBox::Cancel);
    child<QPushButton>(window_, "600")->click();
    EXPECT_EQ(seen.caption, "File exists!");
    EXPECT_EQ(seen.text, "File already exists. Overwrite file?");
    EXPECT_EQ(seen.defaultButton, QApplication::translate("QPlatformTheme", "Cancel"));
    EXPECT_EQ(test::readBytes(dir_.file("a.avi")), old);
    EXPECT_EQ(status(), "Playing \"a.tv\" at 10 frames per sec");

    // OK to overwrite, then Cancel in the compressor choice: nothing written.
    whenModal([](QWidget* modal) {
        qobject_cast<QMessageBox*>(modal)->done(QMessageBox::Ok);
        answerExport(false);
    });
    child<QPushButton>(window_, "600")->click();
    EXPECT_EQ(test::readBytes(dir_.file("a.avi")), old);

    // Without an older file, Cancel leaves none.
    fs::remove(dir_.file("a.avi"));
    answerExport(false);
    child<QPushButton>(window_, "600")->click();
    EXPECT_FALSE(fs::exists(dir_.file("a.avi")));

    test::writeBytes(dir_.file("a.avi"), old);
    whenModal([](QWidget* modal) {
        qobject_cast<QMessageBox*>(modal)->done(QMessageBox::Ok);
        answerExport(true);
    });
    child<QPushButton>(window_, "600")->click();
    EXPECT_EQ(status(), "Finished!");
    EXPECT_NE(test::readBytes(dir_.file("a.avi")), old);
}

TEST_F(MovieWindow, MakeAviFailureIsShownAndLeavesNoFile) {
    test::InDirectory here(dir_.path());
    openA();
    // The movie goes away while it plays: the export reads it afresh and fails.
    fs::rename(movie_, dir_.file("moved.tv"));
    SeenBox failure;
    whenModal([&failure](QWidget* modal) {
        auto* dialog = dynamic_cast<ExportDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        answerBox(failure);
        dialog->accept();
    });
    child<QPushButton>(window_, "600")->click();
    EXPECT_EQ(failure.caption, "Make AVI");
    EXPECT_EQ(failure.text, "error reading movie file");
    EXPECT_FALSE(fs::exists(dir_.file("a.avi")));
    EXPECT_EQ(status(), "Playing \"a.tv\" at 10 frames per sec");
    window_.tick();
    EXPECT_EQ(shownPixels(window_), records_[0]);
}

}  // namespace
}  // namespace player

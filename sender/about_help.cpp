#include "sender/about_help.h"

#include <QLabel>
#include <memory>

#include "sender/dialog_units.h"

namespace sender {

namespace {

constexpr QColor kAboutBackground(159, 220, 220);
constexpr QColor kHelpBackground(255, 255, 223);

QDialog* makeNote(QWidget* parent, const QString& caption, QSize units, QColor background) {
    auto* dialog = new QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                           Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    dialog->setWindowTitle(caption);
    dialog->setModal(true);
    const QRect place = dialogUnits(100, 50, units.width(), units.height());
    dialog->setGeometry(place);
    dialog->setFixedSize(place.size());
    dialog->setAutoFillBackground(true);
    QPalette palette = dialog->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, Qt::black);
    dialog->setPalette(palette);
    return dialog;
}

QLabel* addLabel(QDialog* dialog, int id, const QString& text, QRect place, Qt::Alignment align) {
    auto* label = new QLabel(text, dialog);
    label->setObjectName(QStringLiteral("ctl%1").arg(id));
    label->setGeometry(place);
    label->setAlignment(align);
    label->setWordWrap(true);
    QFont font = label->font();  // the dialog units above are reckoned for this size
    font.setPixelSize(11);
    label->setFont(font);
    return label;
}

// Arial 14 point, normal weight; the closest installed face stands in for Arial.
QFont titleFont() {
    QFont font(QStringLiteral("Arial"), 14, QFont::Normal);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace

QDialog* makeAboutDialog(QWidget* parent) {
    QDialog* dialog = makeNote(parent, QStringLiteral("About \"%1\"").arg(kProductName),
                               QSize(150, 85), kAboutBackground);
    QLabel* title = addLabel(dialog, 10001, QStringLiteral("%1\nencoder").arg(kProductName),
                             dialogUnits(0, 5, 150, 35), Qt::AlignHCenter | Qt::AlignTop);
    title->setFont(titleFont());
    addLabel(dialog, 10002,
             QStringLiteral("Pictures over narrow-band radio\n"
                            "Version 1.0 Build 26.01.09\n"
                            "This version:January 2009"),
             dialogUnits(0, 35, 150, 60), Qt::AlignHCenter | Qt::AlignTop);
    return dialog;
}

QDialog* makeHelpDialog(QWidget* parent) {
    QDialog* dialog =
        makeNote(parent, QStringLiteral("HELP notes"), QSize(270, 115), kHelpBackground);
    QLabel* title = addLabel(dialog, 10001, QStringLiteral("%1 encoder").arg(kProductName),
                             dialogUnits(0, 5, 270, 15), Qt::AlignHCenter | Qt::AlignTop);
    title->setFont(titleFont());
    addLabel(dialog, 10002,
             QStringLiteral("1. Drag and drop picture files\n"
                            "2. Adjust AVI playback rate if needed\n"
                            "3. Video accelerator needs to set to low to capture MPG's\n"
                            "4. A better help file is needed! Should call up an HTML file "
                            "instead of this."),
             dialogUnits(5, 20, 260, 90), Qt::AlignLeft | Qt::AlignTop);
    return dialog;
}

void showAbout(QWidget* parent) {
    const std::unique_ptr<QDialog> dialog(makeAboutDialog(parent));
    dialog->exec();
}

void showHelp(QWidget* parent) {
    const std::unique_ptr<QDialog> dialog(makeHelpDialog(parent));
    dialog->exec();
}

}  // namespace sender

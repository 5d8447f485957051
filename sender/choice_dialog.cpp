#include "sender/choice_dialog.h"

#include <qdrawutil.h>

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>

#include "sender/dialog_units.h"

namespace sender {

namespace {

constexpr QColor kChoiceBackground(139, 197, 197);
constexpr QColor kButtonFace(212, 208, 200);

}  // namespace

FlatButton::FlatButton(const QString& text, QWidget* parent) : QAbstractButton(parent) {
    setText(text);
    setFocusPolicy(Qt::StrongFocus);
}

void FlatButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QPalette shades = palette();
    shades.setColor(QPalette::Light, Qt::white);
    shades.setColor(QPalette::Dark, QColor(128, 128, 128));
    qDrawShadePanel(&painter, rect(), shades, isDown(), 1, nullptr);
    painter.fillRect(rect().adjusted(1, 1, -1, -1), kButtonFace);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(rect().translated(isDown() ? 1 : 0, isDown() ? 1 : 0), Qt::AlignCenter,
                     text());
    if (hasFocus()) painter.drawRect(rect().adjusted(2, 2, -3, -3));
}

ChoiceDialog::ChoiceDialog(const QString& prompt, const QString& defaultText,
                           const QStringList& choices, const QString& caption, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(caption);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    setModal(true);
    setFixedSize(dialogUnits(200, 70).size());
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, kChoiceBackground);
    setPalette(background);

    auto* label = new QLabel(prompt, this);
    label->setObjectName(QStringLiteral("ctl1526"));
    label->setGeometry(dialogUnits(10, 10, 130, 24));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    list_ = new QComboBox(this);
    list_->setObjectName(QStringLiteral("ctl1525"));
    list_->setEditable(true);
    list_->setInsertPolicy(QComboBox::NoInsert);
    list_->addItems(choices);
    // The closed list is one line high; the 60 units are the dropped-down list's room.
    const QRect listPlace = dialogUnits(10, 42, 100, 60);
    list_->setGeometry(listPlace.x(), listPlace.y(), listPlace.width(), list_->sizeHint().height());
    list_->setMaxVisibleItems(5);

    auto* accept = new FlatButton(QStringLiteral("Accept"), this);
    accept->setObjectName(QStringLiteral("ctl254"));
    accept->setGeometry(dialogUnits(150, 10, 40, 14));
    auto* cancel = new FlatButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("ctl255"));
    cancel->setGeometry(dialogUnits(150, 26, 40, 14));
    auto* clear = new FlatButton(QStringLiteral("Clear"), this);
    clear->setObjectName(QStringLiteral("ctl253"));
    clear->setGeometry(dialogUnits(150, 42, 40, 14));

    choiceOpened(state_, defaultText, choices);
    list_->setCurrentIndex(state_.result.isEmpty() ? -1 : 0);

    connect(list_, &QComboBox::activated, this,
            [this](int index) { state_.result = list_->itemText(index); });
    connect(list_->lineEdit(), &QLineEdit::textEdited, this,
            [this](const QString& text) { state_.result = text; });
    connect(clear, &QAbstractButton::clicked, this, [this] {
        list_->setCurrentIndex(-1);
        list_->clearEditText();
        state_.result.clear();
    });
    connect(accept, &QAbstractButton::clicked, this, [this] {
        state_.code = kChoiceAccepted;
        done(QDialog::Accepted);
    });
    connect(cancel, &QAbstractButton::clicked, this, [this] {
        state_.code = kChoiceCancelled;
        done(QDialog::Rejected);
    });
}

void ChoiceDialog::closeEvent(QCloseEvent* event) {
    state_.code = kChoiceCancelled;
    QDialog::closeEvent(event);
}

QString askChoice(QWidget* parent, const QString& prompt, const QString& defaultText,
                  const QStringList& choices, const QString& caption) {
    ChoiceDialog dialog(prompt, defaultText, choices, caption, parent);
    dialog.raise();
    dialog.activateWindow();
    dialog.exec();
    return dialog.answer();
}

}  // namespace sender

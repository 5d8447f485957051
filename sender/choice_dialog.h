#pragma once

// A small modal dialog offering a list of choices with room to type another: Accept returns
// the chosen or typed text, Cancel and closing return an empty text, Clear empties the answer.

#include <QAbstractButton>
#include <QDialog>
#include <QString>
#include <QStringList>

#include "sender/window_core.h"

class QComboBox;

namespace sender {

// The dialog's flat buttons: a filled rectangle with a raised edge and the label.
class FlatButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit FlatButton(const QString& text, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class ChoiceDialog : public QDialog {
    Q_OBJECT

public:
    ChoiceDialog(const QString& prompt, const QString& defaultText, const QStringList& choices,
                 const QString& caption, QWidget* parent = nullptr);

    // The text the dialog returns: the result after Accept, empty otherwise.
    [[nodiscard]] QString answer() const { return choiceAnswer(state_); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    ChoiceState state_;
    QComboBox* list_ = nullptr;
};

// Shows the dialog modal and returns its answer.
[[nodiscard]] QString askChoice(QWidget* parent, const QString& prompt, const QString& defaultText,
                                const QStringList& choices, const QString& caption);

}  // namespace sender

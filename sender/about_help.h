#pragma once

// The About and Help windows: small modal notes opened from the Help menu.

#include <QDialog>

namespace sender {

inline constexpr const char* kProductName = "Vistrel";

// Built but not shown, so tests and screenshots can look at them; the menu runs exec().
[[nodiscard]] QDialog* makeAboutDialog(QWidget* parent);
[[nodiscard]] QDialog* makeHelpDialog(QWidget* parent);

void showAbout(QWidget* parent);
void showHelp(QWidget* parent);

}  // namespace sender

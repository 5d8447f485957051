#pragma once

// The Vistrel icon, compiled into every window program as a Qt resource.

#include <QIcon>

namespace packaging {

// The icon at every size drawn for it (16 to 256 pixels); set it with
// QApplication::setWindowIcon before the first window is shown.
[[nodiscard]] QIcon vistrelIcon();

}  // namespace packaging

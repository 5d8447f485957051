#include "packaging/app_icon.h"

#include <QString>

// The resource lives in a static library: without an explicit registration the linker would leave
// it out of the program. The macro declares a global function, so it is called outside any
// namespace.
static void registerIconResource() { Q_INIT_RESOURCE(vistrel_icon); }

namespace packaging {

QIcon vistrelIcon() {
    registerIconResource();
    QIcon icon;
    for (const int side : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/vistrel/icons/vistrel-%1.png").arg(side), QSize(side, side));
    }
    return icon;
}

}  // namespace packaging

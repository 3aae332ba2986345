#include "ui/qt/qt_icons.h"

namespace vurin {

namespace {

QIcon named(const QString& name) {
    return QIcon::fromTheme(name, QIcon(":/icons/" + name + ".svg"));
}

}  // namespace

QIcon applicationIcon() {
    return named("com.vurin.app");
}

QIcon statusIcon(StatusIcon icon) {
    return named("com.vurin.app-" + QString::fromLatin1(statusIconName(icon)));
}

}  // namespace vurin

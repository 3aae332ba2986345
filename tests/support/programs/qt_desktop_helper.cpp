// Another application for the desktop tests, so that clipboard and focus are read across
// processes as they are for real:
//   qt_desktop_helper own clipboard|primary FORMAT FILE [FORMAT FILE ...]
//       owns the selection with each FORMAT's bytes from FILE until it is killed
//   qt_desktop_helper dump clipboard|primary FORMAT FILE
//       writes the selection's FORMAT bytes to FILE (absent format: no file) and exits
//   qt_desktop_helper field TEXT
//       shows a window with one line edit holding TEXT, caret at the end, until killed
// It prints "ready" once it is set up.
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QTimer>
#include <cstdio>
#include <cstring>

namespace {

QClipboard::Mode modeNamed(const char* name) {
    return std::strcmp(name, "primary") == 0 ? QClipboard::Selection : QClipboard::Clipboard;
}

void ready() {
    std::puts("ready");
    std::fflush(stdout);
}

int own(int argc, char** argv) {
    auto* data = new QMimeData;
    for (int index = 3; index + 1 < argc; index += 2) {
        QFile file(QString::fromLocal8Bit(argv[index + 1]));
        if (!file.open(QIODevice::ReadOnly)) {
            return 2;
        }
        data->setData(QString::fromLocal8Bit(argv[index]), file.readAll());
    }
    QGuiApplication::clipboard()->setMimeData(data, modeNamed(argv[2]));
    ready();
    return QApplication::exec();
}

int dump(char** argv) {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(modeNamed(argv[2]));
    const QString format = QString::fromLocal8Bit(argv[3]);
    if (data && data->hasFormat(format)) {
        QFile file(QString::fromLocal8Bit(argv[4]));
        if (!file.open(QIODevice::WriteOnly) || file.write(data->data(format)) < 0) {
            return 2;
        }
    }
    ready();
    return 0;
}

int field(char** argv) {
    QLineEdit edit;
    edit.setWindowTitle(QStringLiteral("vurin test field"));
    edit.setText(QString::fromUtf8(argv[2]));
    edit.setCursorPosition(static_cast<int>(edit.text().size()));
    edit.resize(400, 40);
    edit.show();
    edit.activateWindow();
    edit.setFocus();
    QTimer::singleShot(0, [] { ready(); });
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    // Accessibility on whatever the bus says, so the field is always readable. Qt 6.4 never
    // registers with the registry when it is handed the bus address through
    // AT_SPI_BUS_ADDRESS (as the test session does); asked through the session bus, it does.
    qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    qunsetenv("AT_SPI_BUS_ADDRESS");
    QApplication application(argc, argv);
    if (argc >= 3 && std::strcmp(argv[1], "field") == 0) {
        return field(argv);
    }
    if (argc >= 5 && argc % 2 == 1 && std::strcmp(argv[1], "own") == 0) {
        return own(argc, argv);
    }
    if (argc == 5 && std::strcmp(argv[1], "dump") == 0) {
        return dump(argv);
    }
    std::fputs("usage: qt_desktop_helper own|dump|field ...\n", stderr);
    return 2;
}

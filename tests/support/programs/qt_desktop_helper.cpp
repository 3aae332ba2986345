// Another application for the desktop tests, so that clipboard and focus are read across
// processes as they are for real; it prints "ready" once it is set up.
//   own clipboard|primary FORMAT HEX...  owns the selection with these bytes until killed
//   dump clipboard|primary FORMAT FILE   writes the FORMAT bytes to FILE (none: no file)
//   field TEXT                           one line edit holding TEXT, caret at the end; prints
//                                        "text " and its text at each change, "return " and
//                                        its text at each Return
//   paste clipboard|primary MS           at each line on its input, reads the text MS later and
//                                        prints "pasted " and it (a program slow to paste)
//   watch clipboard|primary              reads the text of each new owner at once and prints
//                                        "read " and it (a clipboard manager)
#include <unistd.h>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    // Qt 6.4 never registers with the accessibility registry when it is handed the bus address
    // through AT_SPI_BUS_ADDRESS (as the test session does); asked through the session bus, it
    // does.
    qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    qunsetenv("AT_SPI_BUS_ADDRESS");
    QApplication application(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);  // "ready" goes out with its line
    const std::string command = argc > 1 ? argv[1] : "";
    const auto mode = argc > 2 && std::strcmp(argv[2], "primary") == 0 ? QClipboard::Selection
                                                                       : QClipboard::Clipboard;
    if (command == "field" && argc == 3) {
        QLineEdit edit(QString::fromUtf8(argv[2]));
        edit.setCursorPosition(static_cast<int>(edit.text().size()));
        edit.show();
        edit.activateWindow();
        edit.setFocus();
        QObject::connect(&edit, &QLineEdit::returnPressed,
                         [&edit] { std::printf("return %s\n", edit.text().toUtf8().constData()); });
        QObject::connect(&edit, &QLineEdit::textChanged, [](const QString& text) {
            std::printf("text %s\n", text.toUtf8().constData());
        });
        QTimer::singleShot(0, [] { std::puts("ready"); });
        return QApplication::exec();
    }
    if (command == "own" && argc % 2 == 1) {
        auto* data = new QMimeData;
        for (int index = 3; index + 1 < argc; index += 2) {
            data->setData(QString::fromLocal8Bit(argv[index]),
                          QByteArray::fromHex(argv[index + 1]));
        }
        QGuiApplication::clipboard()->setMimeData(data, mode);
        std::puts("ready");
        return QApplication::exec();
    }
    const auto print = [mode](const char* what) {
        const QString text = QGuiApplication::clipboard()->text(mode);
        std::printf("%s %s\n", what, text.toUtf8().constData());
    };
    if (command == "paste" && argc == 4) {
        const int delay = std::atoi(argv[3]);
        QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(&input, &QSocketNotifier::activated, [&] {
            char line[256];
            if (::read(STDIN_FILENO, line, sizeof line) <= 0) {
                QApplication::quit();
                return;
            }
            QTimer::singleShot(delay, [print] { print("pasted"); });
        });
        std::puts("ready");
        return QApplication::exec();
    }
    if (command == "watch" && argc == 3) {
        QObject::connect(QGuiApplication::clipboard(), &QClipboard::changed,
                         [print, mode](QClipboard::Mode changed) {
                             if (changed == mode) {
                                 print("read");
                             }
                         });
        std::puts("ready");
        return QApplication::exec();
    }
    if (command == "dump" && argc == 5) {
        const QMimeData* data = QGuiApplication::clipboard()->mimeData(mode);
        const QString format = QString::fromLocal8Bit(argv[3]);
        QFile file(QString::fromLocal8Bit(argv[4]));
        if (data && data->hasFormat(format) &&
            (!file.open(QIODevice::WriteOnly) || file.write(data->data(format)) < 0)) {
            return 2;
        }
        return 0;
    }
    std::fputs("usage: qt_desktop_helper own|dump|field|paste|watch ...\n", stderr);
    return 2;
}

#include "ui/qt/qt_clipboard.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QMimeData>
#include <QScopedValueRollback>
#include <QStringList>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <utility>

namespace vurin {

namespace {

// Set beside text Vurin writes, so that clipboard managers (Klipper and the ones that follow
// its convention) keep dictations out of their history.
constexpr char passwordManagerHint[] = "x-kde-passwordManagerHint";

QClipboard::Mode modeOf(ClipboardSelection selection) {
    return selection == ClipboardSelection::primary ? QClipboard::Selection : QClipboard::Clipboard;
}

bool isImage(const QString& format) {
    return format.startsWith(QLatin1String("image/"));
}

// The formats worth keeping, in the owner's order. X11 owners also offer their raw targets
// (TARGETS, MULTIPLE, TIMESTAMP, UTF8_STRING, ...), which are not MIME names and start with an
// uppercase letter, and convert images to a dozen formats on request: one image is kept, PNG
// when it is offered. Qt adds its own image wrapper, which is not the owner's.
QStringList formatsToKeep(const QStringList& offered) {
    QStringList kept;
    QString image;
    for (const QString& format : offered) {
        if (format.isEmpty() || !format.front().isLower()) {
            continue;
        }
        if (format == QLatin1String("application/x-qt-image")) {
            continue;
        }
        if (isImage(format)) {
            if (image.isEmpty() || format == QLatin1String("image/png")) {
                image = format;
            }
            continue;
        }
        if (!kept.contains(format)) {
            kept.push_back(format);
        }
    }
    if (!image.isEmpty()) {
        kept.push_back(image);
    }
    return kept;
}

// Vurin's text on a selection, telling each time another program fetches a format of it (Qt
// hands out the bytes through retrieveData, answering the reader's SelectionRequest).
class ReadReceiptMimeData : public QMimeData {
  public:
    explicit ReadReceiptMimeData(std::function<void(const QString& format)> read)
        : read_(std::move(read)) {}

  protected:
    QVariant retrieveData(const QString& format, QMetaType type) const override {
        if (format != QLatin1String(passwordManagerHint)) {
            read_(format);
        }
        return QMimeData::retrieveData(format, type);
    }

  private:
    std::function<void(const QString& format)> read_;
};

}  // namespace

QtClipboard::QtClipboard(OwnerProbe ownerAnswers, std::chrono::milliseconds slowFormat,
                         ClientProcess clientProcess)
    : clipboard_(QGuiApplication::clipboard()),
      ownerAnswers_(std::move(ownerAnswers)),
      slowFormat_(slowFormat),
      clientProcess_(std::move(clientProcess)) {
    if (clipboard_) {
        QObject::connect(clipboard_.data(), &QClipboard::changed, this,
                         [this](QClipboard::Mode mode) { countChange(mode); });
    }
    watchRequests();
}

// The requesting window of each SelectionRequest is seen here just before Qt answers it.
void QtClipboard::watchRequests() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 != nullptr && !filterInstalled_) {
        QCoreApplication::instance()->installNativeEventFilter(this);
        filterInstalled_ = true;
    }
}

bool QtClipboard::reportsReads() const {
    return filterInstalled_;
}

void QtClipboard::setReadObserver(std::function<void(const ClipboardRead&)> observer) {
    readObserver_ = std::move(observer);
}

void QtClipboard::readByRequestor(ClipboardSelection selection, const QString& format) {
    if (readObserver_ && !readingOwn_) {
        readObserver_({.selection = selection,
                       .format = format.toStdString(),
                       .readerProcessID =
                           clientProcess_ && requestor_ != 0 ? clientProcess_(requestor_) : 0});
    }
}

void QtClipboard::countChange(QClipboard::Mode mode) {
    if (mode == QClipboard::Clipboard) {
        ++clipboardChanges_;
    } else if (mode == QClipboard::Selection) {
        ++primaryChanges_;
    }
}

std::int64_t QtClipboard::changeCount(ClipboardSelection selection) const {
    return selection == ClipboardSelection::primary ? primaryChanges_ : clipboardChanges_;
}

// X11 keeps its old behaviour: what could be read counts as the whole clipboard.
std::optional<std::vector<ClipboardItem>> QtClipboard::items(ClipboardSelection selection) {
    if (!clipboard_) {
        return std::vector<ClipboardItem>{};
    }
    // Owners refuse requests stamped before they took the selection: Qt stamps them with the
    // time of the last X event it saw, which may be older than the user's last copy.
    refreshServerTime();
    const QClipboard::Mode mode = modeOf(selection);
    const bool ours =
        mode == QClipboard::Selection ? clipboard_->ownsSelection() : clipboard_->ownsClipboard();
    // A hung owner's formats cannot be read in time: the snapshot is empty.
    if (!ours && ownerAnswers_ && !ownerAnswers_(selection)) {
        return std::vector<ClipboardItem>{};
    }
    const QMimeData* data = clipboard_->mimeData(mode);
    if (!data) {
        return std::vector<ClipboardItem>{};
    }
    // Images last: if the owner hangs on encoding one, the text formats are already kept.
    const QStringList formats = formatsToKeep(data->formats());
    QStringList readOrder;
    for (const QString& format : formats) {
        if (!isImage(format)) {
            readOrder.push_back(format);
        }
    }
    for (const QString& format : formats) {
        if (isImage(format)) {
            readOrder.push_back(format);
        }
    }
    std::vector<std::pair<QString, QByteArray>> read;
    // Reading our own text goes through the same QMimeData, with no other program asking.
    const QScopedValueRollback<bool> own(readingOwn_, ours);
    for (const QString& format : readOrder) {
        const auto started = std::chrono::steady_clock::now();
        // Qt waits for a foreign owner's answer itself (up to its own limit); the same owner is
        // not asked again once it answered that slowly.
        QByteArray bytes = data->data(format);
        // A change of owner while reading (Qt reads foreign data through the event loop)
        // leaves `data` dangling: stop with what was read.
        if (clipboard_->mimeData(mode) != data) {
            break;
        }
        read.emplace_back(format, std::move(bytes));
        if (std::chrono::steady_clock::now() - started > slowFormat_) {
            break;
        }
    }
    if (read.empty()) {
        return std::vector<ClipboardItem>{};
    }
    ClipboardItem item;
    for (const QString& format : formats) {
        for (const auto& [name, bytes] : read) {
            if (name == format) {
                item.values.emplace_back(name.toStdString(), bytes.toStdString());
            }
        }
    }
    return std::vector<ClipboardItem>{std::move(item)};
}

void QtClipboard::replace(ClipboardSelection selection, const std::vector<ClipboardItem>& items) {
    if (!clipboard_) {
        return;
    }
    const QClipboard::Mode mode = modeOf(selection);
    const bool any = std::any_of(items.begin(), items.end(),
                                 [](const ClipboardItem& item) { return !item.values.empty(); });
    if (!any) {
        clipboard_->clear(mode);
        return;
    }
    take(mode, [&items] {
        auto* data = new QMimeData;
        // X11 selections hold one item: further items add the formats the first did not have.
        for (const ClipboardItem& item : items) {
            for (const auto& [format, bytes] : item.values) {
                const QString name = QString::fromStdString(format);
                if (!data->hasFormat(name)) {
                    data->setData(name,
                                  QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
                }
            }
        }
        return data;
    });
}

bool QtClipboard::writeText(ClipboardSelection selection, const std::string& text) {
    if (!clipboard_) {
        return false;
    }
    take(modeOf(selection), [this, selection, &text] {
        auto* data = new ReadReceiptMimeData(
            [this, selection](const QString& format) { readByRequestor(selection, format); });
        data->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
        data->setData(QLatin1String(passwordManagerHint), QByteArrayLiteral("secret"));
        return data;
    });
    return true;
}

void QtClipboard::take(QClipboard::Mode mode, const std::function<QMimeData*()>& makeData) {
    // Qt claims the selection with the time of the last X event it saw. When another program
    // copied after that, the server refuses the claim and the old content would be pasted, so
    // Qt is shown the server's current time first.
    refreshServerTime();
    clipboard_->setMimeData(makeData(), mode);
}

// Touches a property of a window of Qt's own connection: the notification that comes back
// carries the server's current time, which Qt takes as its own.
void QtClipboard::refreshServerTime() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr) {
        return;
    }
    // A paste reads and writes both selections in one go: one refresh serves them all, which
    // keeps the round trips (and the events run while waiting) to one per turn of the loop.
    if (timeFresh_) {
        return;
    }
    if (!timeWindow_) {
        timeWindow_ = std::make_unique<QWindow>();
        timeWindow_->create();
        watchRequests();
    }
    timeNoticed_ = false;
    xcb_connection_t* connection = x11->connection();
    xcb_change_property(connection, XCB_PROP_MODE_APPEND,
                        static_cast<xcb_window_t>(timeWindow_->winId()), XCB_ATOM_WM_NAME,
                        XCB_ATOM_STRING, 8, 0, nullptr);
    xcb_flush(connection);
    // The notification comes through Qt's own event handling, so the loop runs here: main-queue
    // work that comes due meanwhile waits for the caller's hold (a paste takes one). It sleeps
    // until an event comes: spinning would take the processor from the X server that answers.
    QEventLoop wait;
    const QScopedValueRollback<QEventLoop*> waiting(timeWait_, &wait);
    QTimer::singleShot(std::chrono::milliseconds(200), &wait, &QEventLoop::quit);
    if (!timeNoticed_) {
        wait.exec(QEventLoop::ExcludeUserInputEvents);
    }
    // Posted after the wait, so that the events run while waiting cannot clear it at once.
    timeFresh_ = true;
    QTimer::singleShot(0, this, [this] { timeFresh_ = false; });
}

bool QtClipboard::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType == "xcb_generic_event_t" &&
        (static_cast<const xcb_generic_event_t*>(message)->response_type & 0x7f) ==
            XCB_SELECTION_REQUEST) {
        requestor_ = static_cast<const xcb_selection_request_event_t*>(message)->requestor;
    }
    if (timeWindow_ && eventType == "xcb_generic_event_t") {
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
            static_cast<const xcb_property_notify_event_t*>(message)->window ==
                static_cast<xcb_window_t>(timeWindow_->winId())) {
            timeNoticed_ = true;
            if (timeWait_ != nullptr) {
                timeWait_->quit();
            }
        }
    }
    return false;  // Qt goes on to handle the event, and takes its time
}

}  // namespace vurin

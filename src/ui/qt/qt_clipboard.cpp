#include "ui/qt/qt_clipboard.h"

#include <QGuiApplication>
#include <QMimeData>
#include <QStringList>
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

}  // namespace

QtClipboard::QtClipboard(OwnerProbe ownerAnswers, std::chrono::milliseconds slowFormat)
    : clipboard_(QGuiApplication::clipboard()),
      ownerAnswers_(std::move(ownerAnswers)),
      slowFormat_(slowFormat) {
    if (clipboard_) {
        QObject::connect(clipboard_.data(), &QClipboard::changed, this,
                         [this](QClipboard::Mode mode) { countChange(mode); });
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

std::vector<ClipboardItem> QtClipboard::items(ClipboardSelection selection) {
    if (!clipboard_) {
        return {};
    }
    const QClipboard::Mode mode = modeOf(selection);
    const bool ours =
        mode == QClipboard::Selection ? clipboard_->ownsSelection() : clipboard_->ownsClipboard();
    // A hung owner's formats cannot be read in time: the snapshot is empty.
    if (!ours && ownerAnswers_ && !ownerAnswers_(selection)) {
        return {};
    }
    const QMimeData* data = clipboard_->mimeData(mode);
    if (!data) {
        return {};
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
        return {};
    }
    ClipboardItem item;
    for (const QString& format : formats) {
        for (const auto& [name, bytes] : read) {
            if (name == format) {
                item.values.emplace_back(name.toStdString(), bytes.toStdString());
            }
        }
    }
    return {std::move(item)};
}

void QtClipboard::replace(ClipboardSelection selection, const std::vector<ClipboardItem>& items) {
    if (!clipboard_) {
        return;
    }
    const QClipboard::Mode mode = modeOf(selection);
    bool any = false;
    auto* data = new QMimeData;
    // X11 selections hold one item: further items add the formats the first did not have.
    for (const ClipboardItem& item : items) {
        for (const auto& [format, bytes] : item.values) {
            const QString name = QString::fromStdString(format);
            if (!data->hasFormat(name)) {
                data->setData(name, QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
                any = true;
            }
        }
    }
    if (!any) {
        delete data;
        clipboard_->clear(mode);
        return;
    }
    clipboard_->setMimeData(data, mode);
}

void QtClipboard::writeText(ClipboardSelection selection, const std::string& text) {
    if (!clipboard_) {
        return;
    }
    auto* data = new QMimeData;
    data->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    data->setData(QLatin1String(passwordManagerHint), QByteArrayLiteral("secret"));
    clipboard_->setMimeData(data, modeOf(selection));
}

}  // namespace vurin

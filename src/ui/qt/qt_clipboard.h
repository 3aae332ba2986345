#pragma once

#include <QAbstractNativeEventFilter>
#include <QClipboard>
#include <QEventLoop>
#include <QMimeData>
#include <QObject>
#include <QPointer>
#include <QWindow>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/clipboard.h"

namespace vurin {

// Clipboard over QClipboard for the X11 clipboard and the primary selection. A snapshot keeps
// the bytes of every real format (lowercase MIME names; one image format, PNG when offered,
// read last so that the owner encodes one image at most). Change counters follow
// QClipboard::changed, which reports foreign and own changes alike. Main thread only.
class QtClipboard : public QObject, public Clipboard, public QAbstractNativeEventFilter {
  public:
    // Whether another application's selection owner answers at all, asked (with a short
    // deadline of its own) before a snapshot reads from it: Qt would wait five seconds for a
    // hung owner at every request.
    using OwnerProbe = std::function<bool(ClipboardSelection)>;

    // The process of the X client that made a window (X-Resource), 0 when unknown.
    using ClientProcess = std::function<int(std::uint32_t window)>;

    // Without a probe every owner is asked directly. A format that takes longer than
    // `slowFormat` to arrive ends the snapshot: an owner that answers this slowly is taken to
    // hang, and the formats read so far are kept. With `clientProcess`, a read of Vurin's text
    // names the reading program (the client of the requesting window).
    explicit QtClipboard(OwnerProbe ownerAnswers = {},
                         std::chrono::milliseconds slowFormat = std::chrono::milliseconds(1000),
                         ClientProcess clientProcess = {});

    std::optional<std::vector<ClipboardItem>> items(ClipboardSelection selection) override;
    void replace(ClipboardSelection selection, const std::vector<ClipboardItem>& items) override;
    bool writeText(ClipboardSelection selection, const std::string& text) override;
    std::int64_t changeCount(ClipboardSelection selection) const override;
    // The server's events up to now are handled: the owner changes it announced are counted.
    void catchUp() override { refreshServerTime(); }
    bool reportsReads() const override;
    void setReadObserver(std::function<void(const ClipboardRead& read)> observer) override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    void countChange(QClipboard::Mode mode);
    // Qt asks Vurin's text for a format while it answers a SelectionRequest.
    void readByRequestor(ClipboardSelection selection, const QString& format);
    void watchRequests();
    // Claims the selection with the data `makeData` builds.
    void take(QClipboard::Mode mode, const std::function<QMimeData*()>& makeData);
    void refreshServerTime();

    QPointer<QClipboard> clipboard_;
    std::unique_ptr<QWindow> timeWindow_;
    bool timeNoticed_ = false;
    QEventLoop* timeWait_ = nullptr;  // the loop waiting for timeNoticed_
    bool timeFresh_ = false;          // refreshed during this turn of the event loop
    const OwnerProbe ownerAnswers_;
    const std::chrono::milliseconds slowFormat_;
    std::int64_t clipboardChanges_ = 0;
    std::int64_t primaryChanges_ = 0;
    const ClientProcess clientProcess_;
    bool filterInstalled_ = false;
    std::uint32_t requestor_ = 0;  // the window of the SelectionRequest Qt is answering
    bool readingOwn_ = false;      // Vurin reads its own text: no other program's read
    std::function<void(const ClipboardRead& read)> readObserver_;
};

}  // namespace vurin

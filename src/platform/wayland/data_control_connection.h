#pragma once

#include <poll.h>
#include <wayland-client.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/clipboard.h"
#include "platform/wayland/data_control_protocol.h"

namespace vurin {

// A selection's content as the compositor last announced it: our own bytes while the selection
// is ours, else one pipe per format the owner offers (in its order), on which the owner writes
// that format's bytes and then closes. The pipes are closed with the object.
struct SelectionContents {
    std::shared_ptr<const ClipboardItem> own;
    std::vector<std::pair<std::string, int>> pipes;  // (format, read end)
    std::size_t offered = 0;  // the formats the owner offers (no pipes when over the limit)

    SelectionContents() = default;
    SelectionContents(SelectionContents&& other) noexcept;
    SelectionContents& operator=(SelectionContents&&) = delete;
    ~SelectionContents();
};

// A Wayland connection of its own with the compositor's data-control device on the first seat,
// and a thread that dispatches its events and writes our selections' bytes to their readers.
// Every Wayland object is touched by that thread alone; the calls below hand it work and wait
// for the answer (at most a second, which only a compositor that stopped answering costs).
class DataControlConnection {
  public:
    // Nothing, and `why` says why, without a compositor, data-control or a seat. `onEnded` runs
    // once, on the connection's thread, when the compositor ends the connection after that
    // (never for the end that destroying it makes); every call returns at once from then on.
    using Ended = std::function<void(const std::string& why)>;
    // Another program reads a format of a selection we set; on the connection's thread.
    using Read = std::function<void(ClipboardSelection selection, const std::string& format,
                                    int readerProcess)>;
    static std::unique_ptr<DataControlConnection> open(std::string* why, Ended onEnded = {},
                                                       Read onRead = {});
    ~DataControlConnection();

    DataControlConnection(const DataControlConnection&) = delete;
    DataControlConnection& operator=(const DataControlConnection&) = delete;

    const data_control::Protocol& protocol() const { return *protocol_; }
    bool hasPrimarySelection() const { return primary_; }
    // Every selection the compositor announced, ours included.
    std::int64_t changeCount(ClipboardSelection selection) const;
    // Returns once the compositor has answered: every selection it announced before is counted.
    // False when it did not answer in time or the connection has ended.
    bool sync();

    // Asks the owner for every format at once, unless it offers more than `formatLimit`. Nothing
    // once the connection has ended.
    std::optional<SelectionContents> request(ClipboardSelection selection, std::size_t formatLimit);
    // Makes `item` the selection (clears it when the item has no formats), and returns once the
    // compositor has announced the change back: it is counted by then. False when it was not
    // announced in time (one log line) or the connection has ended.
    // `reportReads`: each read of it goes to the read callback, with its reader (a dictation's
    // text; the user's content put back is nobody's business), looked for first in
    // `likelyReader`'s process (the paste's target), as searching every process takes long.
    bool set(ClipboardSelection selection, std::shared_ptr<const ClipboardItem> item,
             bool reportReads = false, int likelyReader = 0);

    struct Reply;
    struct Events;

  private:
    DataControlConnection() = default;

    // Bytes of one format on their way to a program that reads our selection.
    struct PendingSend {
        int fd = -1;
        std::shared_ptr<const ClipboardItem> item;  // keeps `bytes` alive after the source goes
        const std::string* bytes = nullptr;
        std::size_t written = 0;
        std::chrono::steady_clock::time_point lastProgress;
    };
    struct Selection {
        wl_proxy* offer = nullptr;
        std::vector<std::string> types;
        // Ours while the compositor has not cancelled it.
        wl_proxy* ownSource = nullptr;
        std::shared_ptr<const ClipboardItem> ownItem;
        bool reportReads = false;  // of ownSource
        int likelyReader = 0;
    };

    bool post(std::function<void()> job);
    void run();
    bool turn();
    void end(const std::string& why);
    void onSelection(ClipboardSelection selection, wl_proxy* offer);
    void onSend(wl_proxy* source, const char* mimeType, int fd);
    void onCancelled(wl_proxy* source);
    void serveSends(const std::vector<pollfd>& polled, std::size_t first);
    void roundtrip(const std::shared_ptr<Reply>& reply);

    const data_control::Protocol* protocol_ = nullptr;
    bool primary_ = false;
    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    wl_proxy* manager_ = nullptr;
    wl_proxy* device_ = nullptr;

    // The event thread's (before it starts: open's).
    Selection selections_[2];
    std::map<wl_proxy*, std::vector<std::string>> newOffers_;
    std::map<wl_proxy*, std::shared_ptr<const ClipboardItem>> sources_;
    std::map<wl_callback*, std::shared_ptr<Reply>> roundtrips_;
    std::vector<PendingSend> sends_;
    int lastReader_ = 0;  // of a dictation's text

    std::atomic<std::int64_t> changes_[2] = {0, 0};
    std::mutex mutex_;  // guards jobs_ and ended_
    std::deque<std::function<void()>> jobs_;
    bool ended_ = false;
    Ended onEnded_;  // set before the thread starts
    Read onRead_;    // set before the thread starts
    std::atomic<bool> stopping_ = false;
    int wake_ = -1;
    std::thread thread_;
};

}  // namespace vurin

#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/clipboard.h"

namespace vurin {

class DataControlConnection;

// The Wayland clipboard and primary selection through the compositor's data-control protocol
// (ext_data_control_manager_v1, else zwlr_data_control_manager_v1), which lets a program without
// a focused window read and set the selections.
//
// It keeps a Wayland connection and a thread of its own: the thread dispatches the compositor's
// events and writes our selections' bytes to whoever pastes them, so another program reading
// what we wrote gets it at once even while the main thread is busy in a paste. Calls are made
// from one thread (the main thread) and are bounded: reading another owner's formats waits
// `formatLimit` at most for an owner that has stopped sending (its unfinished formats are left
// out, and the snapshot is incomplete), and a write waits until the compositor has announced it,
// so that the change count read right after it already holds our own change.
//
// When the compositor connection ends (a compositor restart, a protocol error), it says so once,
// is not available() meanwhile (every call returns at once), and connects again in the
// background, at growing intervals up to a few seconds, until it is back (said once too).
class DataControlClipboard : public Clipboard {
  public:
    // Nothing, and `why` says why, when there is no compositor, it offers no data-control (GNOME)
    // or has no seat.
    static std::unique_ptr<DataControlClipboard> connect(
        std::string* why, std::chrono::milliseconds formatLimit = std::chrono::milliseconds(300));
    ~DataControlClipboard() override;

    DataControlClipboard(const DataControlClipboard&) = delete;
    DataControlClipboard& operator=(const DataControlClipboard&) = delete;

    std::optional<std::vector<ClipboardItem>> items(ClipboardSelection selection) override;
    void replace(ClipboardSelection selection, const std::vector<ClipboardItem>& items) override;
    bool writeText(ClipboardSelection selection, const std::string& text) override;
    // +1 for every selection (or primary selection) the compositor announces, ours included.
    // A reconnection counts as a change: the selections held before are gone.
    std::int64_t changeCount(ClipboardSelection selection) const override;
    void catchUp() override;
    bool available() const override;
    // The compositor asks us for each read of our selection (data-control's send), so reads are
    // reported, with the reader found as the other holder of the pipe.
    bool reportsReads() const override { return true; }
    void expectReader(int processID) override;
    void setReadObserver(std::function<void(const ClipboardRead& read)> observer) override;

    // The protocol in use: "ext_data_control_manager_v1" or "zwlr_data_control_manager_v1".
    std::string protocol() const;
    // Whether the compositor lets us read and set the primary selection.
    bool hasPrimarySelection() const;
    bool offersPrimary() const override { return hasPrimarySelection(); }

  private:
    explicit DataControlClipboard(std::chrono::milliseconds formatLimit);
    bool open(std::string* why);
    std::shared_ptr<DataControlConnection> current() const;
    void ended(std::uint64_t generation, const std::string& why);
    void reconnect();
    bool write(ClipboardSelection selection, ClipboardItem item, bool reportReads = false,
               int likelyReader = 0);

    const std::chrono::milliseconds formatLimit_;
    mutable std::mutex mutex_;  // guards the fields below
    std::condition_variable wake_;
    std::shared_ptr<DataControlConnection> connection_;  // the last one, ended or not
    std::uint64_t generation_ = 0;            // the newest connection's, counted as it is made
    std::uint64_t endedGeneration_ = 0;       // the newest that ended
    std::int64_t changesBefore_[2] = {0, 0};  // counted by the connections before connection_
    bool down_ = false;
    bool stopping_ = false;
    std::function<void(const ClipboardRead& read)> readObserver_;
    int expectedReader_ = 0;
    std::thread reconnector_;
};

}  // namespace vurin

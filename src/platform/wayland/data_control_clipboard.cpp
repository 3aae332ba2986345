#include "platform/wayland/data_control_clipboard.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>

#include "platform/wayland/data_control_connection.h"
#include "platform/wayland/reconnect_wait.h"
#include "support/log.h"
#include "support/text.h"

namespace vurin {

namespace {

using Clock = std::chrono::steady_clock;

// Set beside text Vurin writes, so that clipboard managers (Klipper and the ones that follow
// its convention) keep dictations out of their history.
constexpr char kPasswordManagerHint[] = "x-kde-passwordManagerHint";
// Text as X11 programs offer it through Qt, and as wl-copy offers it: every reader finds a
// type it asks for.
constexpr const char* kTextTypes[] = {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING",
                                      "TEXT", "STRING"};

// Reads every format's pipe at once (the owner may serve them in any order): once no byte has
// come for `limit`, the owner is taken to hang. An owner that trickles or streams without end is
// cut off as well: the main thread waits here, so the whole read is bounded in time and each
// format in size. A format not read whole makes the snapshot incomplete.
constexpr auto kWholeReadLimit = std::chrono::seconds(3);
constexpr std::size_t kFormatSizeLimit = 64 * 1024 * 1024;
// More formats than any real program offers: the owner is not to be trusted with a pipe each.
constexpr std::size_t kFormatCountLimit = 64;

struct FormatRead {
    enum class Outcome { whole, late, tooLarge, failed } outcome = Outcome::late;
    std::string bytes;
    std::size_t tooLargeAt = 0;  // the bytes read when the limit was passed
};

// One pipe's turn: false once it is done with (whole, too large or failed).
bool readSome(int fd, FormatRead& format, char* buffer, std::size_t size) {
    const ssize_t got = ::read(fd, buffer, size);
    if (got > 0 && format.bytes.size() + static_cast<std::size_t>(got) > kFormatSizeLimit) {
        format.outcome = FormatRead::Outcome::tooLarge;
        format.tooLargeAt = format.bytes.size() + static_cast<std::size_t>(got);
        format.bytes.clear();
        return false;
    }
    if (got > 0) {
        format.bytes.append(buffer, static_cast<std::size_t>(got));
        return true;
    }
    if (got == 0) {
        format.outcome = FormatRead::Outcome::whole;
        return false;
    }
    if (errno == EINTR || errno == EAGAIN) {
        return true;
    }
    format.outcome = FormatRead::Outcome::failed;
    return false;
}

std::vector<FormatRead> readPipes(const std::vector<std::pair<std::string, int>>& pipes,
                                  std::chrono::milliseconds limit) {
    std::vector<FormatRead> read(pipes.size());
    std::vector<bool> open(pipes.size(), true);
    std::size_t openCount = pipes.size();
    auto lastProgress = Clock::now();
    const auto deadline = lastProgress + kWholeReadLimit;
    char buffer[65536];
    while (openCount > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::min(lastProgress + limit, deadline) - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        std::vector<pollfd> polled;
        std::vector<std::size_t> which;
        for (std::size_t i = 0; i < pipes.size(); ++i) {
            if (open[i]) {
                polled.push_back({.fd = pipes[i].second, .events = POLLIN, .revents = 0});
                which.push_back(i);
            }
        }
        const int ready = poll(polled.data(), polled.size(), static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        for (std::size_t k = 0; ready > 0 && k < polled.size(); ++k) {
            if (polled[k].revents == 0) {
                continue;
            }
            const std::size_t i = which[k];
            const std::size_t before = read[i].bytes.size();
            if (!readSome(polled[k].fd, read[i], buffer, sizeof buffer)) {
                open[i] = false;
                --openCount;
            } else if (read[i].bytes.size() > before) {
                lastProgress = Clock::now();
            }
        }
    }
    return read;
}

const char* selectionName(ClipboardSelection selection) {
    return selection == ClipboardSelection::primary ? "主选区" : "剪贴板";
}

// The formats read whole, as one item; nothing, with one log line per kind of fault, when any
// format was not.
std::optional<ClipboardItem> wholeItem(ClipboardSelection selection,
                                       const std::vector<std::pair<std::string, int>>& pipes,
                                       std::vector<FormatRead> read,
                                       std::chrono::milliseconds limit) {
    ClipboardItem item;
    std::string late;
    bool whole = true;
    for (std::size_t i = 0; i < read.size(); ++i) {
        const std::string name = printableForLog(pipes[i].first);
        switch (read[i].outcome) {
            case FormatRead::Outcome::whole:
                item.values.emplace_back(pipes[i].first, std::move(read[i].bytes));
                continue;
            case FormatRead::Outcome::tooLarge:
                log("⚠️ " + std::string(selectionName(selection)) + "的格式「" + name +
                    "」超过 " + std::to_string(kFormatSizeLimit / (1024 * 1024)) + " MB(已读到 " +
                    std::to_string(read[i].tooLargeAt) + " 字节),快照不完整");
                break;
            case FormatRead::Outcome::late:
            case FormatRead::Outcome::failed:
                late += (late.empty() ? "" : "、") + name;
                break;
        }
        whole = false;
    }
    if (!late.empty()) {
        log("⚠️ " + std::string(selectionName(selection)) + "的所有者 " +
            std::to_string(limit.count()) + " 毫秒内没有交出这些格式,快照不完整:" + late);
    }
    if (!whole) {
        return std::nullopt;
    }
    return item;
}

}  // namespace

std::unique_ptr<DataControlClipboard> DataControlClipboard::connect(
    std::string* why, std::chrono::milliseconds formatLimit) {
    std::unique_ptr<DataControlClipboard> clipboard(new DataControlClipboard(formatLimit));
    if (!clipboard->open(why)) {
        return nullptr;
    }
    clipboard->reconnector_ = std::thread([raw = clipboard.get()] { raw->reconnect(); });
    return clipboard;
}

DataControlClipboard::DataControlClipboard(std::chrono::milliseconds formatLimit)
    : formatLimit_(formatLimit) {}

DataControlClipboard::~DataControlClipboard() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (reconnector_.joinable()) {
        reconnector_.join();
    }
    std::shared_ptr<DataControlConnection> last;
    {
        const std::lock_guard lock(mutex_);
        last = std::move(connection_);
    }
    last.reset();  // joins its thread: no ended() after this
}

// Makes a new connection the current one.
bool DataControlClipboard::open(std::string* why) {
    // Counted before the connection exists: it may end before open() returns, and that end
    // must count.
    std::uint64_t generation = 0;
    {
        const std::lock_guard lock(mutex_);
        generation = ++generation_;
    }
    std::shared_ptr<DataControlConnection> fresh = DataControlConnection::open(
        why, [this, generation](const std::string& reason) { ended(generation, reason); },
        [this](ClipboardSelection selection, const std::string& format, int reader) {
            std::function<void(const ClipboardRead&)> observer;
            {
                const std::lock_guard lock(mutex_);
                observer = readObserver_;
            }
            if (observer) {
                observer({.selection = selection, .format = format, .readerProcessID = reader});
            }
        });
    if (!fresh) {
        return false;
    }
    std::shared_ptr<DataControlConnection> previous;
    {
        const std::lock_guard lock(mutex_);
        previous = connection_;
    }
    // What happened on the old connection stays counted, and so does the change of owner.
    std::int64_t counted[2] = {0, 0};
    if (previous) {
        counted[0] = previous->changeCount(ClipboardSelection::clipboard) + 1;
        counted[1] = previous->changeCount(ClipboardSelection::primary) + 1;
    }
    const std::lock_guard lock(mutex_);
    connection_ = std::move(fresh);
    down_ = endedGeneration_ == generation;
    changesBefore_[0] += counted[0];
    changesBefore_[1] += counted[1];
    return !down_;
}

std::shared_ptr<DataControlConnection> DataControlClipboard::current() const {
    const std::lock_guard lock(mutex_);
    return down_ ? nullptr : connection_;
}

bool DataControlClipboard::available() const {
    const std::lock_guard lock(mutex_);
    return !down_;
}

// On the connection's thread, once.
void DataControlClipboard::ended(std::uint64_t generation, const std::string& why) {
    {
        const std::lock_guard lock(mutex_);
        if (generation != generation_ || stopping_) {
            return;
        }
        down_ = true;
        endedGeneration_ = generation;
    }
    log("⚠️ Wayland 剪贴板(data-control)断开:" + why + ";在后台重新连接,其间改为逐字输入");
    wake_.notify_all();
}

void DataControlClipboard::reconnect() {
    ReconnectWait wait;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || down_; });
        if (wake_.wait_for(lock, wait.current(), [this] { return stopping_; })) {
            return;
        }
        lock.unlock();
        std::string why;
        const bool back = open(&why);
        if (back) {
            log("✅ Wayland 剪贴板(data-control)已重新连接");
        }
        lock.lock();
        back ? wait.succeeded() : wait.failed();
    }
}

std::string DataControlClipboard::protocol() const {
    std::shared_ptr<DataControlConnection> connection;
    {
        const std::lock_guard lock(mutex_);
        connection = connection_;
    }
    return connection->protocol().name;
}

bool DataControlClipboard::hasPrimarySelection() const {
    std::shared_ptr<DataControlConnection> connection;
    {
        const std::lock_guard lock(mutex_);
        connection = connection_;
    }
    return connection->hasPrimarySelection();
}

std::int64_t DataControlClipboard::changeCount(ClipboardSelection selection) const {
    std::shared_ptr<DataControlConnection> connection;
    std::int64_t before = 0;
    {
        const std::lock_guard lock(mutex_);
        connection = connection_;
        before = changesBefore_[selection == ClipboardSelection::primary ? 1 : 0];
    }
    return before + connection->changeCount(selection);
}

std::optional<std::vector<ClipboardItem>> DataControlClipboard::items(
    ClipboardSelection selection) {
    const std::shared_ptr<DataControlConnection> connection = current();
    if (!connection) {
        return std::nullopt;
    }
    if (selection == ClipboardSelection::primary && !connection->hasPrimarySelection()) {
        return std::vector<ClipboardItem>{};
    }
    const std::optional<SelectionContents> contents =
        connection->request(selection, kFormatCountLimit);
    if (!contents) {
        return std::nullopt;
    }
    if (contents->offered > kFormatCountLimit) {
        log("⚠️ " + std::string(selectionName(selection)) + "的所有者提供了 " +
            std::to_string(contents->offered) + " 种格式(上限 " +
            std::to_string(kFormatCountLimit) + "),快照不完整");
        return std::nullopt;
    }
    if (contents->own) {
        return std::vector<ClipboardItem>{*contents->own};
    }
    std::optional<ClipboardItem> item = wholeItem(
        selection, contents->pipes, readPipes(contents->pipes, formatLimit_), formatLimit_);
    if (!item) {
        return std::nullopt;
    }
    if (item->values.empty()) {
        return std::vector<ClipboardItem>{};
    }
    return std::vector<ClipboardItem>{std::move(*item)};
}

void DataControlClipboard::replace(ClipboardSelection selection,
                                   const std::vector<ClipboardItem>& items) {
    // A Wayland selection holds one item: further items add the formats the first did not have.
    ClipboardItem merged;
    for (const ClipboardItem& item : items) {
        for (const auto& value : item.values) {
            const bool known =
                std::any_of(merged.values.begin(), merged.values.end(),
                            [&value](const auto& kept) { return kept.first == value.first; });
            if (!known) {
                merged.values.push_back(value);
            }
        }
    }
    write(selection, std::move(merged));
}

void DataControlClipboard::setReadObserver(std::function<void(const ClipboardRead&)> observer) {
    const std::lock_guard lock(mutex_);
    readObserver_ = std::move(observer);
}

void DataControlClipboard::catchUp() {
    if (const std::shared_ptr<DataControlConnection> connection = current()) {
        connection->sync();
    }
}

void DataControlClipboard::expectReader(int processID) {
    const std::lock_guard lock(mutex_);
    expectedReader_ = processID;
}

bool DataControlClipboard::writeText(ClipboardSelection selection, const std::string& text) {
    ClipboardItem item;
    for (const char* type : kTextTypes) {
        item.values.emplace_back(type, text);
    }
    item.values.emplace_back(kPasswordManagerHint, "secret");
    int likelyReader = 0;
    {
        const std::lock_guard lock(mutex_);
        likelyReader = expectedReader_;
    }
    return write(selection, std::move(item), true, likelyReader);
}

// One set_selection replaces the selection whole, so it is not cleared first (that would be a
// change of its own).
bool DataControlClipboard::write(ClipboardSelection selection, ClipboardItem item, bool reportReads,
                                 int likelyReader) {
    const std::shared_ptr<DataControlConnection> connection = current();
    if (!connection) {
        return false;
    }
    if (selection == ClipboardSelection::primary && !connection->hasPrimarySelection()) {
        return true;  // a compositor without it has nothing there to paste
    }
    return connection->set(selection, std::make_shared<const ClipboardItem>(std::move(item)),
                           reportReads, likelyReader);
}

}  // namespace vurin

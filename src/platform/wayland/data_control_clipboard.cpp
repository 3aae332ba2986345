#include "platform/wayland/data_control_clipboard.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>

#include "platform/wayland/data_control_connection.h"
#include "support/log.h"

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
// come for `limit`, the owner is taken to hang; the formats it finished are kept, the others
// are not. An owner that trickles or streams without end is cut off as well: the main thread
// waits here, so the whole read is bounded in time and each format in size.
constexpr auto kWholeReadLimit = std::chrono::seconds(3);
constexpr std::size_t kFormatSizeLimit = 64 * 1024 * 1024;
std::vector<std::optional<std::string>> readPipes(
    const std::vector<std::pair<std::string, int>>& pipes, std::chrono::milliseconds limit) {
    std::vector<std::optional<std::string>> read(pipes.size(), std::string());
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
            const ssize_t got = ::read(polled[k].fd, buffer, sizeof buffer);
            if (got > 0 && read[i]->size() + static_cast<std::size_t>(got) > kFormatSizeLimit) {
                read[i].reset();
                open[i] = false;
                --openCount;
            } else if (got > 0) {
                read[i]->append(buffer, static_cast<std::size_t>(got));
                lastProgress = Clock::now();
            } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                if (got < 0) {
                    read[i].reset();
                }
                open[i] = false;
                --openCount;
            }
        }
    }
    for (std::size_t i = 0; i < pipes.size(); ++i) {
        if (open[i]) {
            read[i].reset();
        }
    }
    return read;
}

}  // namespace

std::unique_ptr<DataControlClipboard> DataControlClipboard::connect(
    std::string* why, std::chrono::milliseconds formatLimit) {
    std::unique_ptr<DataControlConnection> connection = DataControlConnection::open(why);
    if (!connection) {
        return nullptr;
    }
    return std::unique_ptr<DataControlClipboard>(
        new DataControlClipboard(std::move(connection), formatLimit));
}

DataControlClipboard::DataControlClipboard(std::unique_ptr<DataControlConnection> connection,
                                           std::chrono::milliseconds formatLimit)
    : connection_(std::move(connection)), formatLimit_(formatLimit) {}

DataControlClipboard::~DataControlClipboard() = default;

std::string DataControlClipboard::protocol() const {
    return connection_->protocol().name;
}

bool DataControlClipboard::hasPrimarySelection() const {
    return connection_->hasPrimarySelection();
}

std::int64_t DataControlClipboard::changeCount(ClipboardSelection selection) const {
    return connection_->changeCount(selection);
}

std::vector<ClipboardItem> DataControlClipboard::items(ClipboardSelection selection) {
    if (selection == ClipboardSelection::primary && !connection_->hasPrimarySelection()) {
        return {};
    }
    const std::optional<SelectionContents> contents = connection_->request(selection);
    if (!contents) {
        return {};
    }
    if (contents->own) {
        return {*contents->own};
    }
    const std::vector<std::optional<std::string>> read = readPipes(contents->pipes, formatLimit_);
    ClipboardItem item;
    std::string skipped;
    for (std::size_t i = 0; i < read.size(); ++i) {
        if (read[i]) {
            item.values.emplace_back(contents->pipes[i].first, std::move(*read[i]));
        } else {
            skipped += (skipped.empty() ? "" : "、") + contents->pipes[i].first;
        }
    }
    if (!skipped.empty()) {
        log("⚠️ " +
            std::string(selection == ClipboardSelection::primary ? "主选区" : "剪贴板") +
            "的所有者 " + std::to_string(formatLimit_.count()) +
            " 毫秒内没有交出这些格式,快照里不含它们:" + skipped);
    }
    if (item.values.empty()) {
        return {};
    }
    return {std::move(item)};
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

bool DataControlClipboard::writeText(ClipboardSelection selection, const std::string& text) {
    ClipboardItem item;
    for (const char* type : kTextTypes) {
        item.values.emplace_back(type, text);
    }
    item.values.emplace_back(kPasswordManagerHint, "secret");
    return write(selection, std::move(item));
}

// One set_selection replaces the selection whole, so it is not cleared first (that would be a
// change of its own).
bool DataControlClipboard::write(ClipboardSelection selection, ClipboardItem item) {
    if (selection == ClipboardSelection::primary && !connection_->hasPrimarySelection()) {
        return true;  // a compositor without it has nothing there to paste
    }
    return connection_->set(selection, std::make_shared<const ClipboardItem>(std::move(item)));
}

}  // namespace vurin

#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "injection/text_injector.h"
#include "platform/clipboard.h"
#include "platform/custom_shortcuts.h"
#include "platform/focus_reader.h"
#include "platform/keystrokes.h"

namespace vurin::testing {

// A desktop focus set by hand. Elements are told apart by their object path; only fields given
// by `setField` have text and a caret, and no element has a role.
class FakeFocusReader : public FocusReader {
  public:
    std::optional<FrontApplication> frontmostApplication() override {
        if (onFrontmostRead) {
            onFrontmostRead(++frontmostReads);  // to move the focus between two readings
        }
        return front;
    }
    std::optional<AccessibleElementRef> focusedElement() override { return focused; }
    std::optional<std::string> roleOf(const AccessibleElementRef&) override { return {}; }
    std::optional<std::string> textOf(const AccessibleElementRef& element) override {
        const auto found = texts.find(element.objectPath);
        return found == texts.end() ? std::nullopt : std::optional(found->second);
    }
    std::optional<TextSelectionRange> selectedRange(const AccessibleElementRef& element) override {
        const auto found = ranges.find(element.objectPath);
        return found == ranges.end() ? std::nullopt : std::optional(found->second);
    }

    void focusApp(std::string name, std::string windowClass, int processID,
                  std::optional<std::string> path = std::nullopt) {
        // One window per program unless a test opens another.
        front = FrontApplication{.name = std::move(name),
                                 .classID = std::move(windowClass),
                                 .processID = processID,
                                 .windowID = static_cast<std::uint64_t>(processID)};
        focused = path ? std::optional(AccessibleElementRef{":1.42", *path}) : std::nullopt;
    }
    // A field's text, caret (in UTF-16 units) and selection length.
    void setField(const std::string& path, std::string text, long caret, long selected = 0) {
        texts[path] = std::move(text);
        ranges[path] = TextSelectionRange{.location = caret, .length = selected};
    }

    std::optional<FrontApplication> front;
    std::optional<AccessibleElementRef> focused;
    std::map<std::string, std::string> texts;
    std::map<std::string, TextSelectionRange> ranges;
    int frontmostReads = 0;
    std::function<void(int read)> onFrontmostRead;
};

// Both X11 selections in memory; every write moves the selection's change count on.
class FakeClipboard : public Clipboard {
  public:
    std::optional<std::vector<ClipboardItem>> items(ClipboardSelection selection) override {
        whileWaiting();
        if (unreadable.contains(selection)) {
            return std::nullopt;
        }
        return contents(selection);
    }
    void replace(ClipboardSelection selection, const std::vector<ClipboardItem>& items) override {
        whileWaiting();
        copyByOtherProgram(selection, items);
    }
    bool writeText(ClipboardSelection selection, const std::string& text) override {
        if (refusesWrites) {
            return false;
        }
        copyByOtherProgram(selection, {textItem(text)});
        if (everyWriteReader >= 0) {  // a clipboard manager that reads each new owner at once
            readBy(selection, "text/plain", everyWriteReader);
        }
        return true;
    }
    std::int64_t changeCount(ClipboardSelection selection) const override {
        const auto found = changes.find(selection);
        return found == changes.end() ? 0 : found->second;
    }
    void catchUp() override {
        for (const auto& [selection, count] : std::exchange(unnoticed, {})) {
            changes[selection] += count;
        }
    }
    bool offersPrimary() const override { return primary; }
    bool reportsReads() const override { return reporting; }
    void setReadObserver(std::function<void(const ClipboardRead&)> observer) override {
        readObserver = std::move(observer);
    }
    // Another program reads what Vurin wrote.
    void readBy(ClipboardSelection selection, const std::string& format, int process) {
        if (readObserver) {
            readObserver({.selection = selection, .format = format, .readerProcessID = process});
        }
    }

    void copyByOtherProgram(ClipboardSelection selection, std::vector<ClipboardItem> items) {
        held[selection] = std::move(items);
        ++changes[selection];
    }
    // A copy whose notice has not reached Vurin yet: counted at the next catchUp().
    void copyUnnoticed(ClipboardSelection selection, std::vector<ClipboardItem> items) {
        held[selection] = std::move(items);
        ++unnoticed[selection];
    }
    const std::vector<ClipboardItem>& contents(ClipboardSelection selection) {
        return held[selection];
    }
    static ClipboardItem textItem(const std::string& text) {
        return ClipboardItem{.values = {{"text/plain;charset=utf-8", text}}};
    }

    std::map<ClipboardSelection, std::vector<ClipboardItem>> held;
    std::map<ClipboardSelection, std::int64_t> changes, unnoticed;
    bool refusesWrites = false;
    bool primary = true;
    bool reporting = false;
    int everyWriteReader = -1;  // its process (0: not named); -1: none
    std::function<void(const ClipboardRead&)> readObserver;
    std::set<ClipboardSelection> unreadable;  // not every format can be read
    bool up = true;                           // available()
    bool available() const override { return up; }
    // Runs where the desktop clipboard waits for another program in a nested event loop.
    std::function<void()> whileWaiting = [] {};
};

// Hands each stroke to `onPost` and answers at once; `delivers` strokes or characters of each
// request arrive, all when unset (0: every request fails).
class FakeKeystrokeSender : public KeystrokeSender {
  public:
    void send(Keystroke keystroke, std::size_t count, std::chrono::microseconds,
              Done done) override {
        const std::size_t sent = std::min(count, delivers.value_or(count));
        for (std::size_t i = 0; i < sent; ++i) {
            onPost(keystroke);
        }
        answer({.sent = sent, .total = count}, std::move(done));
    }

    void type(const std::string& text, Done done) override {
        onType(text);
        const std::size_t total = codePointCount(text);
        answer({.sent = std::min(total, delivers.value_or(total)), .total = total, .why = why},
               std::move(done));
    }

    // Unset: every request is answered at once; set, answers wait until the test calls them.
    void answer(const KeystrokeOutcome& outcome, Done done) {
        if (holdsAnswers) {
            held.emplace_back(outcome, std::move(done));
        } else {
            done(outcome);
        }
    }

    std::optional<std::size_t> delivers;
    std::string why;  // what a typed text that stops short says
    bool holdsAnswers = false;
    std::vector<std::pair<KeystrokeOutcome, Done>> held;
    std::function<void(Keystroke)> onPost = [](Keystroke) {};
    std::function<void(const std::string&)> onType = [](const std::string&) {};
};

// The controller's side of a paste; a test moves `attempt` on to supersede it.
class FakeInjectionHost : public InjectionHost {
  public:
    std::int64_t beginInjectionAttempt() override { return ++attempt; }
    bool isInjectionAttemptCurrent(std::int64_t value) const override { return attempt == value; }
    void injectionEndedWithoutPending() override {
        pending.reset();
        record("ended");
    }
    void injectionConfirmed(PendingInjection value) override {
        pending = std::move(value);
        record("confirmed " + pending->text);
    }

    std::int64_t attempt = 0;
    std::optional<PendingInjection> pending;
    std::function<void(const std::string&)> record = [](const std::string&) {};
};

// GNOME's custom shortcuts in memory, with its own media keys as `builtIn` (setting -> keys) and
// their defaults as `defaults`.
class FakeCustomShortcuts : public CustomShortcuts {
  public:
    std::vector<CustomShortcut> list() override { return entries; }
    bool put(const CustomShortcut& shortcut) override {
        std::erase_if(entries, [&](const CustomShortcut& e) { return e.id == shortcut.id; });
        entries.push_back(shortcut);
        return writable;
    }
    bool remove(const std::string& id) override {
        std::erase_if(entries, [&](const CustomShortcut& e) { return e.id == id; });
        return writable;
    }
    std::vector<std::string> builtInUses(const std::string& binding) override {
        return holding(builtIn, binding);
    }
    std::vector<std::string> releasedBuiltIns(const std::string& binding) override {
        std::vector<std::string> released;
        for (const std::string& setting : holding(defaults, binding)) {
            const auto& now = builtIn[setting];
            if (std::find(now.begin(), now.end(), binding) == now.end()) {
                released.push_back(setting);
            }
        }
        return released;
    }
    bool releaseBuiltIn(const std::string& setting, const std::string& binding) override {
        std::erase(builtIn[setting], binding);
        return true;
    }
    bool restoreBuiltIn(const std::string& setting) override {
        builtIn[setting] = defaults[setting];
        return true;
    }

    static std::vector<std::string> holding(
        const std::map<std::string, std::vector<std::string>>& settings,
        const std::string& binding) {
        std::vector<std::string> found;
        for (const auto& [setting, keys] : settings) {
            if (std::find(keys.begin(), keys.end(), binding) != keys.end()) {
                found.push_back(setting);
            }
        }
        return found;
    }

    std::vector<CustomShortcut> entries;
    std::map<std::string, std::vector<std::string>> builtIn, defaults;
    bool writable = true;
};

}  // namespace vurin::testing

#pragma once

#include <functional>
#include <map>
#include <set>

#include "injection/text_injector.h"
#include "platform/clipboard.h"
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
        return true;
    }
    std::int64_t changeCount(ClipboardSelection selection) const override {
        const auto found = changes.find(selection);
        return found == changes.end() ? 0 : found->second;
    }

    void copyByOtherProgram(ClipboardSelection selection, std::vector<ClipboardItem> items) {
        held[selection] = std::move(items);
        ++changes[selection];
    }
    const std::vector<ClipboardItem>& contents(ClipboardSelection selection) {
        return held[selection];
    }
    static ClipboardItem textItem(const std::string& text) {
        return ClipboardItem{.values = {{"text/plain;charset=utf-8", text}}};
    }

    std::map<ClipboardSelection, std::vector<ClipboardItem>> held;
    std::map<ClipboardSelection, std::int64_t> changes;
    bool refusesWrites = false;
    std::set<ClipboardSelection> unreadable;  // not every format can be read
    bool up = true;                           // available()
    bool available() const override { return up; }
    // Runs where the desktop clipboard waits for another program in a nested event loop.
    std::function<void()> whileWaiting = [] {};
};

// Hands each stroke to `onPost`; `succeeds` false makes every post fail.
class FakeKeystrokeSender : public KeystrokeSender {
  public:
    bool post(Keystroke keystroke) override {
        onPost(keystroke);
        return succeeds;
    }

    bool typeText(const std::string& text) override {
        onType(text);
        return succeeds;
    }

    bool succeeds = true;
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

}  // namespace vurin::testing

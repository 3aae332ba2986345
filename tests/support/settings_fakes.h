#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/clipboard.h"
#include "settings_ui/desktop_launch.h"
#include "settings_ui/login_item.h"
#include "settings_ui/update_checker.h"

namespace vurin::testing {

class FakeClipboard : public Clipboard {
  public:
    std::vector<ClipboardItem> items(ClipboardSelection) override { return {}; }
    void replace(ClipboardSelection, const std::vector<ClipboardItem>&) override {}
    void writeText(ClipboardSelection selection, const std::string& text) override {
        (selection == ClipboardSelection::clipboard ? clipboard : primary) = text;
    }
    std::int64_t changeCount(ClipboardSelection) const override { return 0; }

    std::optional<std::string> clipboard;
    std::optional<std::string> primary;
};

// A login item whose state the test sets; register and unregister move it to
// `stateAfterRegister` / notRegistered unless an error is set.
class FakeLoginItem : public LoginItemService {
  public:
    LoginItemStatus status() const override { return state; }
    std::optional<std::string> registerItem() override {
        calls.push_back("register");
        if (error) {
            return error;
        }
        state = stateAfterRegister;
        return std::nullopt;
    }
    std::optional<std::string> unregisterItem() override {
        calls.push_back("unregister");
        if (error) {
            return error;
        }
        state = LoginItemStatus::notRegistered;
        return std::nullopt;
    }

    LoginItemStatus state = LoginItemStatus::notRegistered;
    LoginItemStatus stateAfterRegister = LoginItemStatus::enabled;
    std::optional<std::string> error;
    std::vector<std::string> calls;
};

class FakeTerminal : public TerminalLauncher {
  public:
    bool runInTerminal(const std::string& command) override {
        commands.push_back(command);
        return opens;
    }
    bool opens = true;
    std::vector<std::string> commands;
};

// Answers every check at once (on the caller's thread, which is the main one in unit tests)
// with `result`.
class FakeUpdateChecker : public UpdateChecker {
  public:
    using UpdateChecker::UpdateChecker;
    void check(Completion completion, double timeout) override {
        timeouts.push_back(timeout);
        completion(result);
    }
    UpdateCheckResult result = UpdateCheckError::network;
    std::vector<double> timeouts;
};

}  // namespace vurin::testing

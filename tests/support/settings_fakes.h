#pragma once

#include <optional>
#include <string>
#include <vector>

#include "settings_ui/desktop_launch.h"
#include "settings_ui/login_item.h"
#include "settings_ui/update_checker.h"
#include "support/fake_desktop.h"

namespace vurin::testing {

// Register moves the item to `stateAfterRegister`, unregister to notRegistered, unless `error`.
class FakeLoginItem : public LoginItemService {
  public:
    LoginItemStatus status() const override { return state; }
    std::optional<std::string> registerItem() override {
        return change("register", stateAfterRegister);
    }
    std::optional<std::string> unregisterItem() override {
        return change("unregister", LoginItemStatus::notRegistered);
    }
    std::optional<std::string> change(const char* call, LoginItemStatus after) {
        calls.push_back(call);
        state = error ? state : after;
        return error;
    }
    LoginItemStatus state = LoginItemStatus::notRegistered,
                    stateAfterRegister = LoginItemStatus::enabled;
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

// Answers every check at once, on the caller's thread, with `result`.
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

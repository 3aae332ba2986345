#pragma once

#include <variant>

#include "config/keychain.h"
#include "providers/provider_runtime_status.h"
#include "settings_ui/desktop_launch.h"
#include "settings_ui/login_item.h"
#include "settings_ui/settings_controller.h"
#include "settings_ui/update_checker.h"
#include "support/app_controller_fixture.h"
#include "support/fake_desktop.h"
#include "support/fake_secret_store.h"
#include "support/fake_window_renderer.h"

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

// The application controller with a settings controller wired to it as main.cpp wires them.
class SettingsControllerFixture : public AppControllerFixture {
  protected:
    void SetUp() override {
        std::filesystem::remove_all(configDir());
        installSecretStore(keychain);
        setCloudKeyPresenceLookup(
            [](const std::string& account) { return Keychain::get(account).has_value(); });
        updates = std::make_shared<FakeUpdateChecker>(queue, "http://127.0.0.1:1/v.json", "1.0");
        adjustServices = [this](AppServices& app) {
            // clang-format off
            settingsController = SettingsController::create(SettingsServices{
                .mainQueue = queue, .shell = shell, .recorder = recorder, .localServer = whisper,
                .ollamaServer = ollama, .permissions = permissions, .probes = app.probes,
                .clipboard = clipboard, .loginItem = loginItem, .terminal = terminal,
                .updateChecker = updates, .openURL = [this](const std::string& url) {
                    openedURLs.push_back(url);
                    return true; },
                .openLoginItemsSettings = [this] { ++loginItemSettingsOpened; },
                .windows = renderer ? renderer : windows,
                .permissionStatusText = [this] { return permissionTexts; },
                .requestAccessibilityPermission = [this] { hookCalls.push_back("ax"); },
                .startDetectKey = [this] { hookCalls.push_back("detect"); },
                .triggerKeyDisplayName = app.triggerKeyDisplayName});
            // clang-format on
            app.settings = settingsController;
            app.refreshSettingsAfterFallbackChange = [this] {
                settingsController->refreshSettingsAfterFallbackChange();
            };
        };
        AppControllerFixture::SetUp();
        settingsController->attach(controller);
    }
    void TearDown() override {
        shell->statusItem->menu = MenuModel{};  // it holds the controller, which holds the shell
        AppControllerFixture::TearDown();
        settingsController.reset();
        setCloudKeyPresenceLookup({});
        installSecretStore(nullptr);
        std::filesystem::remove_all(configDir());
    }

    // The open window's panes as text, each part followed by " | ": a label's text, "[button]",
    // "on"/"off", "@" and the chosen item, a slider's value, "key:placeholder".
    std::string panesText() const {
        std::string text;
        for (const Pane& pane : window()->model.panes) {
            for (const Card& card : pane.cards) {
                text += "[" + card.symbol + "] " + card.title + " | ";
                for (const CardBlock& block : card.blocks) {
                    if (const auto* row = std::get_if<RowBlock>(&block)) {
                        text += row->title + " | " + row->subtitle.value_or("-") + " | " +
                                describe(row->trailing);
                    } else if (const auto* controls = std::get_if<ControlRowBlock>(&block)) {
                        text += describe(controls->controls);
                    } else {
                        text += std::get<NoteBlock>(block).text + " | ";
                    }
                }
            }
        }
        return text;
    }
    // The alerts shown so far: title, text and buttons joined with " | ".
    std::vector<std::string> alertLines() const {
        std::vector<std::string> lines;
        for (const auto& alert : shell->alerts) {
            lines.push_back(alert.messageText + " | " + alert.informativeText);
            for (const auto& button : alert.buttons) {
                lines.back() += " | " + button;
            }
        }
        return lines;
    }
    void answerFirst() { shell->alertResponse = kAlertFirstButtonReturn; }
    FakeWindowView* window() const {
        return settingsController->isSettingsOpen() ? windows->last().get() : nullptr;
    }
    // The stored settings become those of a config.json document (Chinese unless it says).
    void configure(const std::string& json) {
        controller->config() = decodeConfig(json).value();
        if (json.find("uiLang") == std::string::npos) {
            controller->config().uiLang = "zh";
        }
    }
    // Types `text` into the key field of `fieldKey` (scope:providerId) of the open window.
    void typeKey(const std::string& fieldKey, const std::string& text) {
        window()->fieldTexts[kSettingsKeyFieldIdPrefix + fieldKey] = text;
    }

    std::shared_ptr<FakeSecretStore> keychain = std::make_shared<FakeSecretStore>();
    std::shared_ptr<FakeClipboard> clipboard = std::make_shared<FakeClipboard>();
    std::shared_ptr<FakeLoginItem> loginItem = std::make_shared<FakeLoginItem>();
    std::shared_ptr<FakeTerminal> terminal = std::make_shared<FakeTerminal>();
    std::shared_ptr<FakeUpdateChecker> updates;
    std::shared_ptr<FakeWindowRenderer> windows = std::make_shared<FakeWindowRenderer>();
    std::shared_ptr<WindowRenderer> renderer;  // set before SetUp() to render for real
    PermissionStatusText permissionTexts{"✅ 已允许", "✅ 已允许", "✅ 已允许", true};
    std::vector<std::string> hookCalls, openedURLs;
    int loginItemSettingsOpened = 0;
    std::shared_ptr<SettingsController> settingsController;

  private:
    static std::string describe(const std::vector<Control>& controls) {
        std::string text;
        for (const Control& control : controls) {
            const auto& kind = control.kind;
            if (const auto* label = std::get_if<Label>(&kind)) {
                text += label->text;
            } else if (const auto* button = std::get_if<Button>(&kind)) {
                text += "[" + button->title + "]";
            } else if (const auto* toggle = std::get_if<Switch>(&kind)) {
                text += toggle->on ? "on" : "off";
            } else if (const auto* segments = std::get_if<SegmentedControl>(&kind)) {
                text += "@" + segments->segments.at(segments->selected);
            } else if (const auto* popup = std::get_if<PopUpButton>(&kind)) {
                text += "@" + popup->items.at(popup->selected);
            } else if (const auto* slider = std::get_if<Slider>(&kind)) {
                text += std::to_string(slider->value).substr(0, 4);
            } else if (const auto* field = std::get_if<SecureTextField>(&kind)) {
                text += "key:" + field->placeholder;
            }
            text += " | ";
        }
        return text;
    }
};

}  // namespace vurin::testing

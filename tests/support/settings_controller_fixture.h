#pragma once

#include <memory>
#include <string>
#include <vector>

#include "settings_ui/settings_controller.h"
#include "support/app_controller_fixture.h"
#include "support/fake_secret_store.h"
#include "support/fake_window_renderer.h"
#include "support/settings_fakes.h"

namespace vurin::testing {

// The application controller on fakes with a settings controller wired to it as main.cpp wires
// them, an in-memory keychain and a fresh configuration folder.
class SettingsControllerFixture : public AppControllerFixture {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Pane `index` of the open window as text: card symbols and titles, row titles and
    // sub-titles, controls ("switch:on", "segments:A/B@1", "key:placeholder", ...) and notes,
    // each followed by " | ".
    std::string paneText(int index) const;
    // The alerts shown so far: title, text and buttons joined with " | ".
    std::vector<std::string> alertLines() const;
    void answerFirst() { shell->alertResponse = kAlertFirstButtonReturn; }
    void answerSecond() { shell->alertResponse = kAlertFirstButtonReturn + 1; }
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
    // Set before SetUp() to render the window with a real renderer instead of `windows`.
    std::shared_ptr<WindowRenderer> renderer;
    PermissionStatusText permissionTexts{"✅ 已允许", "✅ 已允许", "✅ 已允许", true};
    std::vector<std::string> hookCalls;
    std::vector<std::string> openedURLs;
    int loginItemSettingsOpened = 0;
    std::shared_ptr<SettingsController> settingsController;
};

}  // namespace vurin::testing

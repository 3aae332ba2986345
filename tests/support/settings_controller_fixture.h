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

// The application controller on fakes, with a settings controller wired to it as main.cpp
// wires them, an in-memory keychain and a fresh configuration folder.
class SettingsControllerFixture : public AppControllerFixture {
  protected:
    void SetUp() override;
    void TearDown() override;

    // A pane as text, one line per card, row, control row and note, for comparing whole panes:
    //   "[symbol] title", "  row title | sub-title | control | control", "  note: text".
    static std::vector<std::string> outline(const Pane& pane);
    // The outline of the open window's pane `index`.
    std::vector<std::string> paneOutline(int index) const;

    // The texts of the alerts shown so far: title, text and buttons joined with " | ".
    std::vector<std::string> alertLines() const;
    // The first button of the next alert is chosen (or the second).
    void answerFirst() { shell->alertResponse = kAlertFirstButtonReturn; }
    void answerSecond() { shell->alertResponse = kAlertFirstButtonReturn + 1; }

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

    // The open settings window, or null.
    FakeWindowView* window() const;
    // The health dot's colour as last set, else as built.
    ColourRole healthDot() const;
    // Types `text` into the key field of `fieldKey` (scope:providerId).
    void typeKey(const std::string& fieldKey, const std::string& text);
    std::vector<std::string> openedURLs;
    int loginItemSettingsOpened = 0;
    std::shared_ptr<SettingsController> settingsController;
};

}  // namespace vurin::testing

#include "support/settings_controller_fixture.h"

#include <variant>

#include "config/keychain.h"
#include "providers/provider_runtime_status.h"

namespace vurin::testing {

void SettingsControllerFixture::SetUp() {
    std::filesystem::remove_all(configDir());
    installSecretStore(keychain);
    setCloudKeyPresenceLookup(
        [](const std::string& account) { return Keychain::get(account).has_value(); });
    updates = std::make_shared<FakeUpdateChecker>(queue, "http://127.0.0.1:1/version.json", "1.0");
    const auto found = [](const bool& flag) {
        return [&flag] {
            return flag ? std::optional<std::filesystem::path>("/bin/x") : std::nullopt;
        };
    };
    const auto hook = [this](const char* name) {
        return [this, name] { hookCalls.push_back(name); };
    };
    settingsController = SettingsController::create(SettingsServices{
        .mainQueue = queue,
        .shell = shell,
        .recorder = recorder,
        .localServer = whisper,
        .ollamaServer = ollama,
        .permissions = permissions,
        .probes = {.findWhisperServerBin = found(whisperBinaryFound),
                   .whisperModelExists = [this] { return whisperModelFound; },
                   .findOllamaBin = found(ollamaBinaryFound),
                   .ollamaModelInstalled = [this] { return ollamaModelFound; }},
        .clipboard = clipboard,
        .loginItem = loginItem,
        .terminal = terminal,
        .updateChecker = updates,
        .openURL =
            [this](const std::string& url) {
                openedURLs.push_back(url);
                return true;
            },
        .openLoginItemsSettings = [this] { ++loginItemSettingsOpened; },
        .windows = renderer ? renderer : windows,
        .permissionStatusText = [this] { return permissionTexts; },
        .requestAccessibilityPermission = hook("ax"),
        .requestInputMonitoringPermission = hook("input"),
        .requestMicrophonePermission = hook("mic"),
        .startDetectKey = hook("detect"),
        .triggerKeyDisplayName = [](std::int64_t code) { return "Key " + std::to_string(code); },
    });
    adjustServices = [weak = std::weak_ptr(settingsController)](AppServices& services) {
        services.settings = weak.lock();
        services.refreshSettingsAfterFallbackChange = [weak] {
            if (auto live = weak.lock()) {
                live->refreshSettingsAfterFallbackChange();
            }
        };
    };
    AppControllerFixture::SetUp();
    settingsController->attach(controller);
}

void SettingsControllerFixture::TearDown() {
    // The shell's status menu holds the settings controller, which holds the shell.
    shell->statusItem->menu = MenuModel{};
    AppControllerFixture::TearDown();
    settingsController.reset();
    setCloudKeyPresenceLookup({});
    installSecretStore(nullptr);
    std::filesystem::remove_all(configDir());
}

namespace {

std::string choices(const std::vector<std::string>& items, int selected) {
    std::string text;
    for (const auto& item : items) {
        text += (text.empty() ? "" : "/") + item;
    }
    return text + "@" + std::to_string(selected);
}

std::string describe(const Control& control) {
    const auto& kind = control.kind;
    if (const auto* label = std::get_if<Label>(&kind)) {
        return "label:" + label->text;
    } else if (const auto* button = std::get_if<Button>(&kind)) {
        return "button:" + button->title + (button->enabled ? "" : "(disabled)");
    } else if (const auto* toggle = std::get_if<Switch>(&kind)) {
        return std::string("switch:") + (toggle->on ? "on" : "off");
    } else if (const auto* segments = std::get_if<SegmentedControl>(&kind)) {
        return "segments:" + choices(segments->segments, segments->selected);
    } else if (const auto* popup = std::get_if<PopUpButton>(&kind)) {
        return "popup:" + choices(popup->items, popup->selected);
    } else if (const auto* slider = std::get_if<Slider>(&kind)) {
        return "slider:" + std::to_string(slider->value).substr(0, 4);
    }
    const auto* field = std::get_if<SecureTextField>(&kind);
    return field ? "key:" + field->placeholder : "";
}

}  // namespace

std::string SettingsControllerFixture::paneText(int index) const {
    std::string text;
    for (const Card& card : window()->model.panes.at(static_cast<std::size_t>(index)).cards) {
        text += "[" + card.symbol + "] " + card.title + " | ";
        for (const CardBlock& block : card.blocks) {
            if (const auto* row = std::get_if<RowBlock>(&block)) {
                text += row->title + " | " + row->subtitle.value_or("-") + " | ";
                for (const auto& control : row->trailing) {
                    text += describe(control) + " | ";
                }
            } else if (const auto* controls = std::get_if<ControlRowBlock>(&block)) {
                for (const auto& control : controls->controls) {
                    text += describe(control) + " | ";
                }
            } else {
                text += std::get<NoteBlock>(block).text + " | ";
            }
        }
    }
    return text;
}

std::vector<std::string> SettingsControllerFixture::alertLines() const {
    std::vector<std::string> lines;
    for (const auto& alert : shell->alerts) {
        lines.push_back(alert.messageText + " | " + alert.informativeText);
        for (const auto& button : alert.buttons) {
            lines.back() += " | " + button;
        }
    }
    return lines;
}

}  // namespace vurin::testing

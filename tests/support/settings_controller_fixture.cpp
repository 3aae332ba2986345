#include "support/settings_controller_fixture.h"

#include <sstream>
#include <type_traits>
#include <variant>

#include "config/keychain.h"
#include "providers/provider_runtime_status.h"

namespace vurin::testing {

void SettingsControllerFixture::SetUp() {
    std::filesystem::remove_all(configDir());
    installSecretStore(keychain);
    setCloudKeyPresenceLookup([](const std::string& account) {
        const auto key = Keychain::get(account);
        return key && !key->empty();
    });
    updates = std::make_shared<FakeUpdateChecker>(queue, "http://127.0.0.1:1/version.json", "1.0");
    settingsController = SettingsController::create(SettingsServices{
        .mainQueue = queue,
        .shell = shell,
        .recorder = recorder,
        .localServer = whisper,
        .ollamaServer = ollama,
        .permissions = permissions,
        .probes =
            LocalServiceProbes{
                .findWhisperServerBin = [this]() -> std::optional<std::filesystem::path> {
                    return whisperBinaryFound ? std::optional<std::filesystem::path>("/bin/w")
                                              : std::nullopt;
                },
                .whisperModelExists = [this] { return whisperModelFound; },
                .findOllamaBin = [this]() -> std::optional<std::filesystem::path> {
                    return ollamaBinaryFound ? std::optional<std::filesystem::path>("/bin/o")
                                             : std::nullopt;
                },
                .ollamaModelInstalled = [this] { return ollamaModelFound; },
            },
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
        .requestAccessibilityPermission = [this] { hookCalls.push_back("ax"); },
        .requestInputMonitoringPermission = [this] { hookCalls.push_back("input"); },
        .requestMicrophonePermission = [this] { hookCalls.push_back("mic"); },
        .startDetectKey = [this] { hookCalls.push_back("detect"); },
        .triggerKeyDisplayName =
            [](std::int64_t code) {
                return code == 105 ? std::string("F13") : "Key " + std::to_string(code);
            },
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
    // The fake shell keeps the status item, whose menu holds the settings controller that holds
    // the shell: let go of the menu so the three can be freed.
    shell->statusItem->menu = MenuModel{};
    AppControllerFixture::TearDown();
    settingsController.reset();
    setCloudKeyPresenceLookup({});
    installSecretStore(nullptr);
    std::filesystem::remove_all(configDir());
}

FakeWindowView* SettingsControllerFixture::window() const {
    return settingsController->isSettingsOpen() ? windows->last().get() : nullptr;
}

ColourRole SettingsControllerFixture::healthDot() const {
    const auto* view = window();
    if (!view) {
        return ColourRole::tertiary;
    }
    if (const auto set = view->colours.find(kSettingsHealthDotId); set != view->colours.end()) {
        return set->second;
    }
    for (const auto& block : view->model.header->blocks) {
        if (const auto* controls = std::get_if<ControlRowBlock>(&block)) {
            for (const auto& control : controls->controls) {
                if (const auto* dot = std::get_if<StatusDot>(&control.kind)) {
                    return dot->colour;
                }
            }
        }
    }
    return ColourRole::tertiary;
}

void SettingsControllerFixture::typeKey(const std::string& fieldKey, const std::string& text) {
    ASSERT_NE(window(), nullptr);
    window()->fieldTexts[kSettingsKeyFieldIdPrefix + fieldKey] = text;
}

namespace {

std::string describe(const Control& control) {
    return std::visit(
        [](const auto& kind) -> std::string {
            using Kind = std::decay_t<decltype(kind)>;
            if constexpr (std::is_same_v<Kind, Label>) {
                return "label:" + kind.text;
            } else if constexpr (std::is_same_v<Kind, Button>) {
                return "button:" + kind.title + (kind.enabled ? "" : "(disabled)");
            } else if constexpr (std::is_same_v<Kind, Switch>) {
                return kind.on ? "switch:on" : "switch:off";
            } else if constexpr (std::is_same_v<Kind, SegmentedControl> ||
                                 std::is_same_v<Kind, PopUpButton>) {
                std::string text = std::is_same_v<Kind, PopUpButton> ? "popup:" : "segments:";
                const auto& items = [&]() -> const std::vector<std::string>& {
                    if constexpr (std::is_same_v<Kind, PopUpButton>) {
                        return kind.items;
                    } else {
                        return kind.segments;
                    }
                }();
                for (std::size_t i = 0; i < items.size(); ++i) {
                    text += (i ? "/" : "") + items[i];
                }
                return text + "@" + std::to_string(kind.selected);
            } else if constexpr (std::is_same_v<Kind, Slider>) {
                std::ostringstream value;
                value << kind.value;
                return "slider:" + value.str();
            } else if constexpr (std::is_same_v<Kind, SecureTextField>) {
                return "key:" + kind.placeholder;
            } else if constexpr (std::is_same_v<Kind, StatusDot>) {
                return "dot";
            } else {
                return "other";
            }
        },
        control.kind);
}

}  // namespace

std::vector<std::string> SettingsControllerFixture::outline(const Pane& pane) {
    std::vector<std::string> lines;
    for (const Card& card : pane.cards) {
        lines.push_back("[" + card.symbol + "] " + card.title);
        for (const CardBlock& block : card.blocks) {
            if (const auto* row = std::get_if<RowBlock>(&block)) {
                std::string line = "  " + row->title + " | " + row->subtitle.value_or("-");
                for (const auto& control : row->trailing) {
                    line += " | " + describe(control);
                }
                lines.push_back(line);
            } else if (const auto* controls = std::get_if<ControlRowBlock>(&block)) {
                std::string line = " ";
                for (const auto& control : controls->controls) {
                    line += " " + describe(control);
                }
                lines.push_back(line);
            } else if (const auto* note = std::get_if<NoteBlock>(&block)) {
                lines.push_back("  note: " + note->text);
            }
        }
    }
    return lines;
}

std::vector<std::string> SettingsControllerFixture::paneOutline(int index) const {
    return window() ? outline(window()->model.panes.at(static_cast<std::size_t>(index)))
                    : std::vector<std::string>{};
}

std::vector<std::string> SettingsControllerFixture::alertLines() const {
    std::vector<std::string> lines;
    for (const auto& alert : shell->alerts) {
        std::string line = alert.messageText + " | " + alert.informativeText;
        for (const auto& button : alert.buttons) {
            line += " | " + button;
        }
        lines.push_back(line);
    }
    return lines;
}

}  // namespace vurin::testing

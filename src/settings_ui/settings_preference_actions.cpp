#include <algorithm>
#include <cmath>

#include "app/app_controller.h"
#include "settings_ui/settings_controller.h"
#include "support/language.h"
#include "support/log.h"
#include "support/sound.h"

namespace vurin {

namespace {

constexpr int kLocalEngineSegment = 1;

template <std::size_t N>
std::optional<std::string> segmentValue(const std::array<std::string_view, N>& values,
                                        int segment) {
    if (segment < 0 || static_cast<std::size_t>(segment) >= N) {
        return std::nullopt;
    }
    return std::string(values[static_cast<std::size_t>(segment)]);
}

}  // namespace

void SettingsController::sttSegChanged(int segment) {
    if (auto app = controller()) {
        app->setSTT(segment == kLocalEngineSegment);
        rebuildSettingsPane(SettingsTab::speech);
    }
}

void SettingsController::polishSegChanged(int segment) {
    if (auto app = controller()) {
        app->setPolish(segment == kLocalEngineSegment);
        rebuildSettingsPane(SettingsTab::polish);
    }
}

void SettingsController::cloudFallbackSwitchChanged() {
    // The controller's toggle ends by calling refreshSettingsAfterFallbackChange below.
    if (auto app = controller()) {
        app->toggleCloudFallback();
    }
}

void SettingsController::refreshSettingsAfterFallbackChange() {
    if (settingsWindow_) {
        rebuildSettingsPane(SettingsTab::speech);
        rebuildSettingsPane(SettingsTab::polish);
    }
}

void SettingsController::langSegChanged(int segment) {
    auto app = controller();
    const auto value = segmentValue(kSpeechLanguageSegments, segment);
    if (!app || !value) {
        return;
    }
    app->config().sttLanguage = *value;
    saveAndRebuildMenu(*app);
    log(L("识别语言已设为:", "Language set to: ") + *value);
}

void SettingsController::uiLangSegChanged(int segment) {
    auto app = controller();
    const auto value = segmentValue(kUILanguageSegments, segment);
    if (!app || !value) {
        return;
    }
    app->config().uiLang = *value;
    saveConfig(app->config());
    applyUILang(*value);
    app->rebuildMenu();
    // Every text of the window was chosen when it was built: build it again.
    if (settingsWindow_) {
        windowWillClose();
        showSettings();
    }
}

void SettingsController::micDeviceSegChanged(int segment) {
    auto app = controller();
    if (!app) {
        return;
    }
    const std::string value = segment == 1 ? "system" : "builtin";
    app->config().micDevice = value;
    saveConfig(app->config());
    services_.recorder->warmUp(value == "builtin");
    log(value == "system"
            ? L("录音改用系统默认输入设备", "Recording via system default input device")
            : L("录音改用内置麦克风(不会把蓝牙耳机切到通话模式)",
                "Recording via built-in mic (won't switch Bluetooth headphones to call mode)"));
}

void SettingsController::soundVolumeChanged(double value) {
    auto app = controller();
    // A slider never sends NaN, but a value that is not a number must not reach the file.
    if (!app || std::isnan(value)) {
        return;
    }
    const double volume = std::clamp(value, 0.0, 1.0);
    app->config().soundVolume = volume;
    setSoundVolume(static_cast<float>(volume));
    saveConfig(app->config());
    if (settingsWindow_) {
        settingsWindow_->setText(kSettingsVolumeLabelId, soundVolumeLabelText(volume));
    }
    playSound("Glass");
}

}  // namespace vurin

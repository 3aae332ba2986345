#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_services.h"
#include "app/permission_onboarding.h"
#include "app/wayland_permission_help.h"
#include "app/window_model.h"
#include "platform/clipboard.h"
#include "platform/main_queue.h"
#include "settings_ui/desktop_launch.h"
#include "settings_ui/gnome_trigger_shortcuts.h"
#include "settings_ui/login_item.h"
#include "settings_ui/update_checker.h"

namespace vurin {

class AppController;

// The tabs of the settings window, in segment order.
enum class SettingsTab { general = 0, speech = 1, polish = 2, permissions = 3 };
inline constexpr int kSettingsTabCount = 4;

enum class HealthDotColour { green, orange };

// The stored values behind the segmented controls, by segment index.
inline constexpr std::array<std::string_view, 3> kSpeechLanguageSegments = {"auto", "zh", "en"};
inline constexpr std::array<std::string_view, 3> kUILanguageSegments = {"auto", "zh", "en"};
inline constexpr std::array<std::string_view, 2> kMicDeviceSegments = {"builtin", "system"};

// Everything the settings actions call besides the application controller. main.cpp wires the
// real ones, tests fakes.
struct SettingsServices {
    std::shared_ptr<MainQueue> mainQueue;
    std::shared_ptr<ApplicationShell> shell;
    std::shared_ptr<AudioRecorder> recorder;
    std::shared_ptr<LocalService> localServer;
    std::shared_ptr<LocalService> ollamaServer;
    std::shared_ptr<PermissionGate> permissions;
    LocalServiceProbes probes;
    std::shared_ptr<Clipboard> clipboard;
    std::shared_ptr<LoginItemService> loginItem;
    std::shared_ptr<TerminalLauncher> terminal;
    std::shared_ptr<UpdateChecker> updateChecker;
    // Opens a web URL in the default browser; true when a browser was started.
    std::function<bool(const std::string& url)> openURL;
    // Opens the desktop's own settings at its autostart (login items) page.
    std::function<void()> openLoginItemsSettings;

    // The window and what its general and permissions panes show and call.
    std::shared_ptr<WindowRenderer> windows;
    std::function<PermissionStatusText()> permissionStatusText;
    std::function<void()> requestAccessibilityPermission;
    std::function<void()> requestInputMonitoringPermission;
    std::function<void()> requestMicrophonePermission;
    // Waits for the next key press to become the trigger key.
    std::function<void()> startDetectKey;
    std::function<std::string(std::int64_t keyCode)> triggerKeyDisplayName;
    // A Wayland session's trigger row: the label as the trigger capture sees it (what the desktop
    // bound), and the compositor lines that bind the key. Both empty in an X11 session.
    std::function<std::string()> triggerKeyLabel;
    std::function<CompositorBindingLines()> compositorBindingLines;
    // GNOME without global shortcuts: Vurin's own custom shortcuts, offered while
    // `offerGnomeShortcuts` holds (its shortcuts run on the press only), on the key named by
    // `gnomeKeys`. Null elsewhere.
    std::shared_ptr<GnomeTriggerShortcuts> gnomeShortcuts;
    std::function<bool()> offerGnomeShortcuts;
    std::function<GnomeTriggerShortcuts::Keys()> gnomeKeys;
};

// Ids of the settings window's controls that change while it is open.
inline constexpr const char* kSettingsHealthLabelId = "settings.health.label";
inline constexpr const char* kSettingsHealthDotId = "settings.health.dot";
inline constexpr const char* kSettingsTriggerKeyLabelId = "settings.triggerKey";
inline constexpr const char* kSettingsVolumeLabelId = "settings.volume.label";
inline constexpr const char* kSettingsLaunchAtLoginSwitchId = "settings.launchAtLogin";
inline constexpr const char* kSettingsLaunchAtLoginSubtitleId = "settings.launchAtLogin.subtitle";
inline constexpr const char* kSettingsAxStatusId = "settings.permissions.ax";
inline constexpr const char* kSettingsInputStatusId = "settings.permissions.input";
inline constexpr const char* kSettingsMicStatusId = "settings.permissions.mic";
// The key field of a cloud card: this prefix, then the scope, a colon and the provider id.
inline constexpr const char* kSettingsKeyFieldIdPrefix = "settings.key.";

// The settings window's actions, its health line and the update checks. Every method runs on
// the main queue. The application controller is held weakly: actions do nothing once it is
// gone.
class SettingsController : public SettingsPresenter,
                           public std::enable_shared_from_this<SettingsController> {
  public:
    static std::shared_ptr<SettingsController> create(SettingsServices services);

    void attach(std::weak_ptr<AppController> controller) { controller_ = std::move(controller); }

    // SettingsPresenter
    using SettingsPresenter::showSettings;
    void showSettings(const WindowActivation& activation) override;
    void setStatusPanel(std::optional<Card> panel) override;
    void selectTab(int index) override;
    void refreshHealthSummary() override { refreshSettingsHealthSummary(); }
    void refreshLatencyChart() override;

    // The window's close button; also used to close it before reopening it.
    void windowWillClose();
    bool isSettingsOpen() const { return settingsWindow_ != nullptr; }
    const std::shared_ptr<WindowView>& settingsWindow() const { return settingsWindow_; }
    void settingsTabChanged(int index);
    void rebuildSettingsPane(SettingsTab tab);
    void refreshSettingsPermissionStatus();
    // GNOME's custom shortcuts for the trigger: add (with the send and cancel ones as switched),
    // remove Vurin's, and the two switches.
    void addGnomeShortcuts();
    void removeGnomeShortcuts();
    void gnomeSendShortcutChanged(bool on);
    void gnomeCancelShortcutChanged(bool on);
    // The event tap's detection result, while the window shows the trigger key.
    void setTriggerKeyLabel(const std::string& text);

    // The window as built now, for the interface language and settings of this moment.
    WindowModel buildSettingsWindow();
    Pane buildGeneralPane();
    Pane buildSTTPane();
    Pane buildPolishPane();
    Pane buildPermissionsPane();

    // Health line.
    std::string settingsHealthSummaryText();
    void refreshHealthDot();
    void refreshSettingsHealthSummary();
    HealthDotColour healthDotColour();

    // Cloud keys. The text is read from the key field registered under the scope ("stt" or
    // "polish"), a colon and the provider id.
    void saveSTTCloudKey();
    void savePolishCloudKey();
    void clearSTTCloudKey();
    void clearPolishCloudKey();
    void saveCloudKey(std::string_view scope, std::string_view providerId);
    void clearCloudKey(std::string_view providerId);

    // Providers, engines and languages.
    void sttCloudProviderChanged(int index);
    void polishCloudProviderChanged(int index);
    void sttSegChanged(int segment);
    void polishSegChanged(int segment);
    void cloudFallbackSwitchChanged();
    void refreshSettingsAfterFallbackChange();
    void langSegChanged(int segment);
    void uiLangSegChanged(int segment);
    void micDeviceSegChanged(int segment);
    void soundVolumeChanged(double value);

    // Start-up, history, local components, support.
    void launchAtLoginChanged(bool on);
    void showLaunchAtLoginApproval();
    void clearHistoryData();
    void installLocalModels();
    void contactSupport();

    // Updates.
    void checkForUpdatesOnLaunchIfEnabled();
    void checkForUpdatesMenu();
    void runUpdateCheck(bool userInitiated);
    void presentUpdateAvailable(const UpdateInfo& info);
    void autoCheckUpdatesChanged(bool on);

    // The segment that shows a stored value: its index in `values`, or 0 when none matches.
    template <std::size_t N>
    static int segmentFor(const std::array<std::string_view, N>& values, std::string_view value) {
        for (std::size_t i = 0; i < N; ++i) {
            if (values[i] == value) {
                return static_cast<int>(i);
            }
        }
        return 0;
    }

  private:
    explicit SettingsController(SettingsServices services);

    std::shared_ptr<AppController> controller() const { return controller_.lock(); }
    int showAlert(const AlertSpec& alert);
    void rebuildAfterProviderChange();
    void saveAndRebuildMenu(AppController& app);
    void startSettingsPermissionRefreshTimer();
    std::vector<Card> localModelsCards(std::string_view scope);
    Card cloudProviderCard(std::string_view scope, const std::string& title,
                           const std::string& scopeNote);
    std::string launchAtLoginSubtitle(LoginItemStatus status) const;
    // Wraps a member action so the window holds this controller weakly.
    template <typename... Args>
    std::function<void(Args...)> weakAction(void (SettingsController::*action)(Args...));

    SettingsServices services_;
    std::weak_ptr<AppController> controller_;
    std::shared_ptr<WindowView> settingsWindow_;
    // The tray's status and actions, shown above the tabs while the desktop has no tray.
    std::optional<Card> statusPanel_;
    // Field key (scope:providerId) -> id of that card's key field.
    std::map<std::string, ControlId> settingsProviderFields_;
    std::shared_ptr<RepeatingTimer> settingsPermissionTimer_;
    std::shared_ptr<WorkItem> launchUpdateCheck_;
    void appendGnomeShortcuts(std::vector<CardBlock>& blocks);
};

template <typename... Args>
std::function<void(Args...)> SettingsController::weakAction(
    void (SettingsController::*action)(Args...)) {
    return [weak = weak_from_this(), action](Args... args) {
        if (auto self = weak.lock()) {
            ((*self).*action)(args...);
        }
    };
}

// The web-mail compose address of the support action, or nothing when it cannot be formed.
std::optional<std::string> supportMailURL(std::string_view appVersion, std::string_view build,
                                          std::string_view systemVersion,
                                          std::string_view architecture);

}  // namespace vurin

#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/app_services.h"
#include "app/application_shell.h"
#include "app/wayland_permission_help.h"
#include "app/window_model.h"
#include "audio/audio_recorder.h"
#include "config/config.h"
#include "platform/audio_capture.h"
#include "platform/main_queue.h"
#include "platform/permission_probe.h"

namespace vurin {

// The microphone as the sound server presents it.
enum class MicrophoneAccess {
    authorized,
    muted,          // the source recordings would use is muted
    noInputSource,  // the server has no source to record from
    noSoundServer,  // no PulseAudio or PipeWire server answers
};

// The source a recording would use (the same choice the recorder makes) decides the status.
MicrophoneAccess microphoneAccess(const AudioSourceList& sources, bool useBuiltInMic);

// The status texts of the three grants in the interface language, in window order.
struct PermissionStatusText {
    std::string accessibility;
    std::string inputMonitoring;
    std::string microphone;
    bool allGranted = false;
};

std::string accessibilityStatusText(SyntheticInputAccess access);
std::string inputMonitoringStatusText(KeyGrabAccess access);
std::string microphoneStatusText(MicrophoneAccess access);
// Whether a grant lets input setup start (the window still shows what is missing).
bool accessibilityAllowsInput(SyntheticInputAccess access);
bool triggerAllowsInput(KeyGrabAccess access);

// What the permission gate needs from the application controller; every hook runs on the main
// thread and may be empty until attached.
struct PermissionHooks {
    // The live configuration (trigger key, microphone choice); null once its owner is gone.
    std::function<Config*()> config;
    // Starts the trigger capture and logs the ready lines once; true when it runs.
    std::function<bool()> finishInputSetup;
    // Our own capture holds the trigger key already (a trial grab would then be refused).
    std::function<bool()> triggerCaptureRunning;
};

// The three grants dictation needs (synthetic input, the trigger key grab, a microphone), the
// start-up log line, and the onboarding window that polls them every second and starts input
// setup as soon as all three hold. Main thread only.
class PermissionOnboarding : public PermissionGate,
                             public std::enable_shared_from_this<PermissionOnboarding> {
  public:
    struct Services {
        std::shared_ptr<MainQueue> mainQueue;
        std::shared_ptr<ApplicationShell> shell;
        std::shared_ptr<WindowRenderer> windows;
        std::shared_ptr<PermissionProbe> probe;
        std::shared_ptr<DesktopSettings> desktopSettings;
        // A sound server connection of its own (the recorder's stays with the recorder).
        std::shared_ptr<AudioCapture> audio;
        std::shared_ptr<AudioRecorder> recorder;
        // Where the help page is written when the desktop has no settings for a grant.
        std::filesystem::path helpPage;
        // Set in a Wayland session: the window and the help page speak of its keystroke paths
        // and trigger sources instead of XTest and key grabs.
        std::optional<WaylandPermissionHelp> wayland;
    };

    // Ids of the window's controls that change after it is built.
    static constexpr const char* kAccessibilityStatusId = "permissions.ax.status";
    static constexpr const char* kInputStatusId = "permissions.input.status";
    static constexpr const char* kMicrophoneStatusId = "permissions.mic.status";
    static constexpr const char* kContinueButtonId = "permissions.continue";
    static constexpr const char* kAccessibilityBusNoteId = "permissions.atspi.note";
    static constexpr const char* kKeystrokeNoteId = "permissions.keystrokes.note";
    static constexpr const char* kTriggerModeNoteId = "permissions.trigger.mode";

    static std::shared_ptr<PermissionOnboarding> create(Services services);
    void attach(PermissionHooks hooks) { hooks_ = std::move(hooks); }

    // PermissionGate
    void checkPermissions() override;
    bool allRequiredPermissionsGranted() override;
    void showPermissionOnboarding() override;

    PermissionStatusText permissionStatusText();
    void refreshPermissionWindow();
    void refreshPermissionStatusButton() { refreshPermissionWindow(); }
    void closePermissionWindowIfReady();
    void requestAccessibilityPermission();
    void requestInputMonitoringPermission();
    void requestMicrophonePermission();

    // The window model as built for the current language and desktop.
    WindowModel buildPermissionWindow();
    // The note that says where each row's button leads on this desktop.
    std::string settingsDestinationNote() const;

    const std::shared_ptr<WindowView>& permissionWindow() const { return permissionWindow_; }
    bool isPolling() const { return permissionTimer_ && permissionTimer_->isValid(); }

  private:
    explicit PermissionOnboarding(Services services);

    SyntheticInputAccess readAccessibility();
    KeyGrabAccess readInputMonitoring();
    MicrophoneAccess readMicrophone();
    // Runs input setup for grants that are all held right now.
    bool finishInputSetup();
    // Stops polling, closes the window and logs that the grants are in place.
    void finishOnboarding();
    void openSettings(SettingsPage page);
    bool writeHelpPage() const;

    Services services_;
    PermissionHooks hooks_;
    std::shared_ptr<WindowView> permissionWindow_;
    std::shared_ptr<RepeatingTimer> permissionTimer_;
    // The last microphone status read; a change to authorized warms the recorder up again,
    // since the source it chose at launch may not have existed then.
    std::optional<MicrophoneAccess> lastMicrophone_;
    // True while input setup runs for grants just read as held: they answer its own check.
    bool grantsJustRead_ = false;
};

}  // namespace vurin

#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/application_shell.h"
#include "app/window_model.h"
#include "audio/audio_recorder.h"
#include "config/config.h"
#include "injection/text_injector.h"
#include "local_services/local_service.h"
#include "pipeline/dictation_job.h"
#include "platform/background_permission.h"
#include "platform/main_queue.h"

namespace vurin {

// The permission checks and the onboarding window.
class PermissionGate {
  public:
    virtual ~PermissionGate() = default;
    // Logs the state of the three grants.
    virtual void checkPermissions() = 0;
    virtual bool allRequiredPermissionsGranted() = 0;
    virtual void showPermissionOnboarding() = 0;
};

// The system-wide capture of the trigger key.
class TriggerCapture {
  public:
    virtual ~TriggerCapture() = default;
    // True when the capture exists or was created.
    virtual bool setupEventTap() = 0;
};

// The settings window as the controller drives it.
class SettingsPresenter {
  public:
    virtual ~SettingsPresenter() = default;
    // Opens the window or brings it forward; a user's request unless `activation` says otherwise.
    virtual void showSettings(const WindowActivation& activation) = 0;
    void showSettings() { showSettings(WindowActivation{}); }
    // What the tray would show, at the top of the window, for a desktop without a tray; nothing
    // takes it away.
    virtual void setStatusPanel(std::optional<Card> panel) = 0;
    // Selects a tab (1 is the speech pane) as if the user had clicked it.
    virtual void selectTab(int index) = 0;
    virtual void refreshHealthSummary() = 0;
    // A dictation ended (its history line, if any, written): the latency chart, when shown.
    virtual void refreshLatencyChart() = 0;
};

// The phone remote's server and press guard as the controller drives them.
class PhoneRemote {
  public:
    virtual ~PhoneRemote() = default;
    virtual void startIfEnabled() = 0;
    virtual void broadcast(std::string_view state) = 0;
    virtual void forceRelease() = 0;
    virtual void stop() = 0;
};

// Whether the local services can be started at all.
struct LocalServiceProbes {
    std::function<std::optional<std::filesystem::path>()> findWhisperServerBin;
    std::function<bool()> whisperModelExists;
    std::function<std::optional<std::filesystem::path>()> findOllamaBin;
    std::function<bool()> ollamaModelInstalled;
};

// How this process was started.
struct StartContext {
    // The desktop started it at login (the autostart entry's --autostart).
    bool autostart = false;
    // No settings had been saved before: the user meets Vurin for the first time.
    bool firstStart = false;
    // The desktop's token for this start, when a launcher handed one over.
    std::string activationToken;
};

// Everything the controller owns or calls. Each subsystem provides its part; main.cpp wires the
// real ones and tests wire fakes.
struct AppServices {
    std::shared_ptr<MainQueue> mainQueue;
    std::shared_ptr<ApplicationShell> shell;
    std::shared_ptr<AudioRecorder> recorder;
    std::shared_ptr<LocalService> localServer;
    std::shared_ptr<LocalService> ollamaServer;
    std::shared_ptr<DictationRunner> dictationPipeline;
    std::shared_ptr<TextInjector> injector;
    std::shared_ptr<PhoneRemote> phone;
    std::shared_ptr<PermissionGate> permissions;
    std::shared_ptr<TriggerCapture> triggerCapture;
    std::shared_ptr<SettingsPresenter> settings;
    LocalServiceProbes probes;
    StartContext start;
    BackgroundRequest requestBackground;
    // Whether one of Vurin's own windows has the keyboard focus: a dictation would land there.
    std::function<bool()> ownWindowFocused;
    // The start a launcher announced is over without a window.
    std::function<void(const std::string& token)> completeStartup;

    // Start-up steps owned by other subsystems.
    std::function<void()> cleanupStaleRecordingFiles;
    std::function<void()> migrateEnvKeysToKeychain;
    std::function<void()> checkForUpdatesOnLaunchIfEnabled;

    // Display name of a trigger key code ("F13").
    std::function<std::string(std::int64_t keyCode)> triggerKeyDisplayName;
    // Menu actions owned by other subsystems.
    std::function<void()> showPhoneTriggerWindow;
    std::function<void()> checkForUpdatesMenu;
    // Called after the cloud-fallback switch changed, so the settings window can follow.
    std::function<void()> refreshSettingsAfterFallbackChange;
};

}  // namespace vurin

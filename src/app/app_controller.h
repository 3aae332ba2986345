#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/app_services.h"
#include "app/app_state.h"
#include "config/config.h"
#include "injection/injection_target.h"
#include "injection/text_injector.h"
#include "input/gesture_engine.h"
#include "input/trigger_commands.h"
#include "pipeline/pipeline_cancellation.h"
#include "pipeline/pipeline_generation.h"
#include "platform/main_queue.h"

namespace vurin {

// The spine of the application: owns every long-lived object, runs start-up and shutdown, and is
// the only writer of the dictation state. Everything here runs on the main queue except the
// recording completion, which runs on the recorder's background thread and posts its effects.
class AppController : public InjectionHost, public std::enable_shared_from_this<AppController> {
  public:
    static std::shared_ptr<AppController> create(AppServices services);

    // Start-up sequence and shutdown.
    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    void quit();

    bool finishInputSetup();
    void maintainSelectedLocalServices();
    void wireGestures();

    // Gesture handlers.
    void startRecording();
    void stopAndProcess();
    // The recorder could not open the microphone of the recording just started (it said why).
    void recordingOpenFailed();
    void handleSingleClick();
    void cancel();
    // `vurin --trigger toggle|send|cancel`, `at` being when the command started (main queue's
    // clock). A toggle that comes within kToggleRepeatSeconds of the one before it is the
    // desktop repeating a held shortcut, and one older than the last handled was overtaken: both
    // are dropped.
    void triggerCommand(TriggerCommand command, double at);
    // Longer than the usual keyboard repeat delays (GNOME 500 ms, KDE 600 ms), shorter than any
    // recording worth keeping would allow between two deliberate presses.
    static constexpr double kToggleRepeatSeconds = 0.7;

    void warnNotConfigured();
    void warnLocalUnavailable();

    AppState appState() const { return appState_; }
    void setAppState(AppState state);

    void updateStatusIcon();
    void rebuildMenu();
    // Shows the key detection's icon until the next updateStatusIcon().
    void showDetectingKey();
    void refreshSettingsHealthSummary();

    // Quick switches of the menu and the three on/off settings.
    void setSTT(bool local);
    void setPolish(bool local);
    void quickToggleSTT();
    void quickTogglePolish();
    void toggleSendOnClick();
    void toggleCloudFallback();
    void toggleSaveTextHistory();

    // InjectionHost
    std::int64_t beginInjectionAttempt() override;
    bool isInjectionAttemptCurrent(std::int64_t attempt) const override;
    void injectionEndedWithoutPending() override;
    void injectionConfirmed(PendingInjection pending) override;

    Config& config() { return config_; }
    const std::shared_ptr<GestureEngine>& engine() const { return engine_; }
    const std::optional<PendingInjection>& pending() const { return pending_; }
    std::int64_t injectionAttempt() const { return injectionAttempt_; }
    std::int64_t inFlight() const { return inFlight_; }
    bool didFinishInputSetup() const { return didFinishInputSetup_; }
    const std::shared_ptr<PipelineCancellation>& activePipelineCancellation() const {
        return activePipelineCancellation_;
    }
    const PipelineGeneration& pipelineGeneration() const { return *pipelineGeneration_; }

  private:
    explicit AppController(AppServices services);

    // Everything a job needs on the recorder's thread. It holds the controller weakly: were the
    // job the last owner, the controller would die on that thread, possibly after the
    // application is gone.
    struct RecordingContext {
        std::weak_ptr<AppController> controller;
        std::shared_ptr<MainQueue> mainQueue;
        std::shared_ptr<PipelineGeneration> generations;
        std::shared_ptr<DictationRunner> pipeline;
        DictationHooks hooks;
        std::shared_ptr<PipelineCancellation> cancellation;
        std::int64_t generation = 0;
        PipelineConfigSnapshot snapshot;
        std::chrono::steady_clock::time_point released;
    };

    static void recordingFinished(const RecordingContext& context, const RecordingResult& result);
    static void processRecording(const RecordingContext& context, const std::filesystem::path& file,
                                 const RecordingResult& result);
    static void postIdleIfCurrent(const RecordingContext& context);
    static void postCompletionEpilogue(const RecordingContext& context);
    void endDictationForExit();
    // Ends the running job and the 60 s limit of the recording.
    void cancelJobAndRecordingLimit();
    // Stops the running recording; what it recorded is deleted, not transcribed.
    void discardRecording();
    DictationHooks makeHooks();
    void installMainMenu();
    // Without a tray, the settings window carries what the menu offers; it opens at a start the
    // user made and at the first start, while a start at login stays in the background.
    void startWithoutTray();
    bool trayShown() const;
    // Nothing when the trigger can be heard; else why not, as the icon shows it.
    void setInputProblem(std::optional<StatusIcon> problem);
    std::string statusLine() const;
    // The status menu's information lines (the status line first) and its actions.
    struct StatusMenuItems {
        std::vector<std::string> info;
        MenuItem stt, polish, phone, settings, updates, quit;
    };
    StatusMenuItems statusMenuItems();
    MenuModel buildStatusMenu();
    Card buildStatusPanel();
    void refreshStatusPanel();
    LocalService::Callback readyRefresh();
    void showPermissionOnboardingLater();
    bool showOneTimeAlert(bool& flag, const AlertSpec& alert);
    std::weak_ptr<AppController> weakSelf() { return weak_from_this(); }

    AppServices services_;
    std::shared_ptr<GestureEngine> engine_;
    Config config_;
    std::shared_ptr<PipelineGeneration> pipelineGeneration_;

    AppState appState_ = AppState::idle;
    std::optional<PendingInjection> pending_;
    std::int64_t injectionAttempt_ = 0;
    std::shared_ptr<PipelineCancellation> activePipelineCancellation_;
    std::int64_t inFlight_ = 0;
    bool didWarnNotConfigured_ = false;
    bool didWarnLocalUnavailable_ = false;
    std::shared_ptr<WorkItem> maxRecordTimer_;
    std::shared_ptr<RepeatingTimer> localServiceTimer_;
    std::shared_ptr<StatusItemView> statusItem_;
    bool didFinishInputSetup_ = false;
    std::optional<StatusIcon> inputProblem_;
    std::optional<double> lastToggleAt_;      // the last toggle carried out
    std::optional<double> lastToggleSeenAt_;  // the last toggle received, repeats included
    bool toggleRepeatLogged_ = false;
};

}  // namespace vurin

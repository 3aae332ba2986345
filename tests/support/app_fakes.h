#pragma once

#include <future>
#include <vector>

#include "app/app_services.h"
#include "platform/sound.h"

namespace vurin::testing {

class FakeRecorder : public AudioRecorder {
  public:
    void warmUp(bool useBuiltInMic) override { warmUps.push_back(useBuiltInMic); }
    bool start(bool useBuiltInMic) override {
        starts.push_back(useBuiltInMic);
        return recording = startSucceeds;
    }
    bool isRecording() const override { return recording; }
    void setOpenFailureHandler(std::function<void()> handler) override {
        onOpenFailed = std::move(handler);
    }
    void stop(StopCompletion completion) override {
        recording = false;
        completions.push_back(std::move(completion));
    }
    // Delivers the oldest stop's completion as the background thread would, at level `peak`.
    void finish(std::optional<std::filesystem::path> file, double duration, bool logged = false) {
        auto completion = std::move(completions.front());
        completions.erase(completions.begin());
        completion({.file = std::move(file),
                    .seconds = duration,
                    .peakDBFS = peak,
                    .failureLogged = logged});
    }
    // The same on a thread of its own, which the recorder's wait waits for.
    void finishInBackground(std::filesystem::path file, double duration) {
        background = std::async(std::launch::async, [=, this] { finish(file, duration); });
    }
    bool waitForBackgroundTasks(std::chrono::milliseconds limit) override {
        return !background.valid() || background.wait_for(limit) == std::future_status::ready;
    }

    bool startSucceeds = true, recording = false;
    float peak = -20.0F;
    std::vector<bool> warmUps, starts;
    std::vector<StopCompletion> completions;
    std::future<void> background;
    std::function<void()> onOpenFailed;
};

class FakeLocalService : public LocalService {
  public:
    void maintain(Callback onReady) override { maintained.push_back(std::move(onReady)); }
    void start(Callback onReady) override { started.push_back(std::move(onReady)); }
    bool isReady() const override { return ready; }
    void recoverIfUnhealthy(Callback onRecovered) override {
        recoveries.push_back(std::move(onRecovered));
    }
    void stop() override { ++stops; }

    bool ready = false;
    int stops = 0;
    std::vector<Callback> maintained, started, recoveries;
};

// Records each job; `onRun` lets a test act while the job is "running" on its thread.
class FakeDictationRunner : public DictationRunner {
  public:
    void run(const DictationJob& job, const DictationHooks& hooks) override {
        jobs.push_back(job);
        lastHooks = hooks;
        if (onRun) {
            onRun(job, hooks);
        }
    }

    std::vector<DictationJob> jobs;
    std::optional<DictationHooks> lastHooks;
    std::function<void(const DictationJob&, const DictationHooks&)> onRun;
};

class FakeInjector : public TextInjector {
  public:
    void inject(const std::string& text, std::weak_ptr<InjectionHost>) override {
        injected.push_back(text);
    }
    void sendReturn(const PendingInjection& pending,
                    std::function<void(SendOutcome)> done) override {
        sent.push_back(pending.text);
        done(sendOutcome);
    }
    void undoInsertedText(const PendingInjection& pending) override {
        undone.push_back(pending.text);
    }

    SendOutcome sendOutcome = SendOutcome::sent;
    std::vector<std::string> injected, sent, undone;
};

class FakePhoneRemote : public PhoneRemote {
  public:
    void startIfEnabled() override { calls.push_back("startIfEnabled"); }
    void broadcast(std::string_view state) override { broadcasts.emplace_back(state); }
    void forceRelease() override { calls.push_back("forceRelease"); }
    void stop() override { calls.push_back("stop"); }

    std::vector<std::string> broadcasts, calls;
};

class FakePermissionGate : public PermissionGate {
  public:
    void checkPermissions() override { ++checks; }
    bool allRequiredPermissionsGranted() override { return granted; }
    void showPermissionOnboarding() override { ++onboardingShown; }

    bool granted = true;
    int checks = 0, onboardingShown = 0;
};

class FakeTriggerCapture : public TriggerCapture {
  public:
    bool setupEventTap() override {
        ++setups;
        return succeeds;
    }
    bool succeeds = true;
    int setups = 0;
};

class FakeSettingsPresenter : public SettingsPresenter {
  public:
    void showSettings(const WindowActivation& activation) override {
        calls.push_back(!activation.requested      ? "show unasked"
                        : activation.token.empty() ? "show"
                                                   : "show " + activation.token);
    }
    void setStatusPanel(std::optional<Card> value) override { panel = std::move(value); }
    void selectTab(int index) override { calls.push_back("tab " + std::to_string(index)); }
    void refreshHealthSummary() override { calls.push_back("refresh"); }
    void refreshLatencyChart() override { calls.push_back("latency"); }
    std::vector<std::string> calls;
    std::optional<Card> panel;
};

class FakeStatusItem : public StatusItemView {
  public:
    void setIcon(StatusIcon value) override { icon = statusIconName(value); }
    void setToolTip(const std::string& value) override { toolTip = value; }
    void setMenu(MenuModel value) override {
        menu = std::move(value);
        ++menuBuilds;
    }
    bool shownByDesktop() const override { return shown; }
    void setShownChangedHandler(std::function<void()> changed) override {
        shownChanged = std::move(changed);
    }
    std::function<void()> shownChanged;
    std::string icon, toolTip;
    MenuModel menu;
    int menuBuilds = 0;
    bool shown = true;
};

class FakeShell : public ApplicationShell {
  public:
    void setActivationPolicy(ActivationPolicy policy) override { policies.push_back(policy); }
    void activateIgnoringOtherApps() override { ++activations; }
    int runModalAlert(const AlertSpec& alert) override {
        alerts.push_back(alert);
        return alertResponse;
    }
    void setMainMenu(std::vector<MenuModel>) override {}
    std::shared_ptr<StatusItemView> createStatusItem() override { return statusItem; }
    void terminate() override { ++terminations; }

    int alertResponse = kAlertFirstButtonReturn + 1;
    std::vector<ActivationPolicy> policies;
    int activations = 0, terminations = 0;
    std::vector<AlertSpec> alerts;
    std::shared_ptr<FakeStatusItem> statusItem = std::make_shared<FakeStatusItem>();
};

class FakeSoundOutput : public SoundOutput {
  public:
    bool play(const std::string& name, float volume) override {
        played.push_back(name);
        volumes.push_back(volume);
        return true;
    }
    std::vector<std::string> played;
    std::vector<float> volumes;
};

}  // namespace vurin::testing

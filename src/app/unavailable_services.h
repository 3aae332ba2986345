#pragma once

#include "app/app_services.h"

namespace vurin {

// Stand-ins for capabilities this build does not have yet. Each says so in the log and reports
// failure; none pretends to succeed.
class UnavailableRecorder : public AudioRecorder {
  public:
    void warmUp(bool) override {}
    bool start(bool) override;
    bool isRecording() const override { return false; }
    void stop(StopCompletion completion) override;
    bool waitForBackgroundTasks(std::chrono::milliseconds) override { return true; }
};

class UnavailableLocalService : public LocalService {
  public:
    void maintain(Callback) override {}
    void start(Callback) override {}
    bool isReady() const override { return false; }
    void recoverIfUnhealthy(Callback) override {}
    void stop() override {}
};

class UnavailableDictationRunner : public DictationRunner {
  public:
    void run(const DictationJob& job, const DictationHooks& hooks) override;
};

class UnavailableInjector : public TextInjector {
  public:
    void inject(const std::string& text, std::weak_ptr<InjectionHost> host) override;
    SendOutcome sendReturn(const PendingInjection&) override;
    void undoInsertedText(const PendingInjection&) override;
};

// Without a phone server there is nothing to start, broadcast to or release.
class UnavailablePhoneRemote : public PhoneRemote {
  public:
    void startIfEnabled() override {}
    void broadcast(std::string_view) override {}
    void forceRelease() override {}
    void stop() override {}
};

class UnavailablePermissionGate : public PermissionGate {
  public:
    void checkPermissions() override;
    bool allRequiredPermissionsGranted() override { return true; }
    void showPermissionOnboarding() override;
};

class UnavailableTriggerCapture : public TriggerCapture {
  public:
    bool setupEventTap() override;
};

class UnavailableSettingsPresenter : public SettingsPresenter {
  public:
    void showSettings() override;
    void selectTab(int) override {}
    void refreshHealthSummary() override {}
};

// Fills every service that is still empty with its stand-in, and every empty function with the
// real one where it exists, else one that does nothing or reports "not available".
void fillUnavailableServices(AppServices& services);

}  // namespace vurin

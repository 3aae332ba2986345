#pragma once

#include <gtest/gtest.h>

#include "app/app_controller.h"
#include "providers/provider_runtime_status.h"
#include "support/app_fakes.h"
#include "support/language.h"
#include "support/log.h"
#include "support/sound.h"
#include "support/virtual_main_queue.h"

namespace vurin::testing {

// A controller on fakes and the virtual clock, in Chinese, with its log and cues captured.
class AppControllerFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::remove(configURL());
        setLogObserver([this](const std::string& line) { logs.push_back(line); });
        installSoundOutput(sound, queue);
        applyUILang("zh");
        controller = AppController::create(makeServices());
        controller->config() = Config{.uiLang = "zh"};
    }
    void TearDown() override {
        controller.reset();
        setLogObserver({});
        installSoundOutput(nullptr, nullptr);
        setCloudKeyPresenceLookup({});
    }

    // Runs the start-up sequence and everything it posts for now.
    void launch() {
        controller->applicationDidFinishLaunching();
        queue->runPending();
    }
    std::vector<std::string> menuTitles() const {
        std::vector<std::string> titles;
        for (const auto& item : shell->statusItem->menu.items) {
            titles.push_back(item.kind == MenuItem::Kind::separator ? "-" : item.title);
        }
        return titles;
    }

    std::shared_ptr<VirtualMainQueue> queue = std::make_shared<VirtualMainQueue>();
    std::shared_ptr<FakeShell> shell = std::make_shared<FakeShell>();
    std::shared_ptr<FakeRecorder> recorder = std::make_shared<FakeRecorder>();
    std::shared_ptr<FakeLocalService> whisper = std::make_shared<FakeLocalService>();
    std::shared_ptr<FakeLocalService> ollama = std::make_shared<FakeLocalService>();
    std::shared_ptr<FakeDictationRunner> runner = std::make_shared<FakeDictationRunner>();
    std::shared_ptr<FakeInjector> injector = std::make_shared<FakeInjector>();
    std::shared_ptr<FakePhoneRemote> phone = std::make_shared<FakePhoneRemote>();
    std::shared_ptr<FakePermissionGate> permissions = std::make_shared<FakePermissionGate>();
    std::shared_ptr<FakeTriggerCapture> trigger = std::make_shared<FakeTriggerCapture>();
    std::shared_ptr<FakeSettingsPresenter> settings = std::make_shared<FakeSettingsPresenter>();
    std::shared_ptr<FakeSoundOutput> sound = std::make_shared<FakeSoundOutput>();
    bool whisperBinaryFound = true, whisperModelFound = true;
    bool ollamaBinaryFound = true, ollamaModelFound = true;
    // The start-up steps and menu actions of other subsystems, in the order they ran.
    std::vector<std::string> trace;
    std::vector<std::string> logs;
    std::shared_ptr<AppController> controller;
    // Set before SetUp() runs to change the services the controller is created with.
    std::function<void(AppServices&)> adjustServices;

  private:
    AppServices makeServices() {
        const auto found = [](const bool& flag) {
            return [&flag]() -> std::optional<std::filesystem::path> {
                return flag ? std::optional<std::filesystem::path>("/bin/found") : std::nullopt;
            };
        };
        const auto note = [this](const char* step) {
            return [this, step] { trace.push_back(step); };
        };
        AppServices services{
            .mainQueue = queue,
            .shell = shell,
            .recorder = recorder,
            .localServer = whisper,
            .ollamaServer = ollama,
            .dictationPipeline = runner,
            .injector = injector,
            .phone = phone,
            .permissions = permissions,
            .triggerCapture = trigger,
            .settings = settings,
            .probes = {.findWhisperServerBin = found(whisperBinaryFound),
                       .whisperModelExists = [this] { return whisperModelFound; },
                       .findOllamaBin = found(ollamaBinaryFound),
                       .ollamaModelInstalled = [this] { return ollamaModelFound; }},
            .cleanupStaleRecordingFiles = note("cleanup"),
            .migrateEnvKeysToKeychain = note("migrate"),
            .checkForUpdatesOnLaunchIfEnabled = note("updates"),
            .triggerKeyDisplayName =
                [](std::int64_t code) { return "Key " + std::to_string(code); },
            .showPhoneTriggerWindow = note("phone"),
            .checkForUpdatesMenu = note("check"),
            .refreshSettingsAfterFallbackChange = note("fallback settings")};
        if (adjustServices) {
            adjustServices(services);
        }
        return services;
    }
};

}  // namespace vurin::testing

#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_controller.h"
#include "support/app_fakes.h"
#include "support/virtual_main_queue.h"

namespace vurin::testing {

// A controller wired to fakes on the virtual clock, with the log and the cues captured. Its
// interface language and texts are Chinese.
class AppControllerFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the start-up sequence and everything it posts for now.
    void launch() {
        controller->applicationDidFinishLaunching();
        queue->runPending();
    }
    // Holds the key past the long-press threshold: recording starts.
    void pressLong() {
        controller->engine()->keyDown();
        queue->advance(0.3);
    }
    // Releases the key after a long press: the recorder is asked to stop.
    void release() {
        controller->engine()->keyUp();
        queue->runPending();
    }
    void singleClick() { clicks(1, 0.25); }
    void doubleClick() { clicks(2, 0.0); }
    // A recording file with some bytes in the temporary folder.
    std::filesystem::path makeRecordingFile();
    // Delivers the recorder's completion and runs what it posted to the main queue.
    void finishRecording(std::optional<std::filesystem::path> file, double duration) {
        recorder->finish(std::move(file), duration);
        queue->runPending();
    }
    // Puts the controller in pendingSend as a confirmed paste would.
    void confirmPaste(const std::string& text) {
        controller->injectionConfirmed({.text = text, .target = {.appName = "Editor"}});
    }

    int countLog(const std::string& line) const {
        return static_cast<int>(std::count(logs.begin(), logs.end(), line));
    }
    bool logged(const std::string& line) const { return countLog(line) > 0; }
    // The titles of the status menu, "-" for a separator.
    std::vector<std::string> menuTitles() const;

    std::shared_ptr<VirtualMainQueue> queue = std::make_shared<VirtualMainQueue>();
    std::shared_ptr<FakeShell> shell = std::make_shared<FakeShell>();
    std::shared_ptr<FakeRecorder> recorder = std::make_shared<FakeRecorder>();
    std::shared_ptr<FakeLocalService> whisper = std::make_shared<FakeLocalService>();
    std::shared_ptr<FakeLocalService> ollama = std::make_shared<FakeLocalService>();
    std::shared_ptr<FakeDictationRunner> runner = std::make_shared<FakeDictationRunner>();
    std::shared_ptr<FakeInjector> injector = std::make_shared<FakeInjector>();
    // Wired in place of `injector` when a derived fixture sets it in its constructor.
    std::shared_ptr<TextInjector> injectorInUse;
    std::shared_ptr<FakePhoneRemote> phone = std::make_shared<FakePhoneRemote>();
    std::shared_ptr<FakePermissionGate> permissions = std::make_shared<FakePermissionGate>();
    std::shared_ptr<FakeTriggerCapture> trigger = std::make_shared<FakeTriggerCapture>();
    std::shared_ptr<FakeSettingsPresenter> settings = std::make_shared<FakeSettingsPresenter>();
    std::shared_ptr<FakeSoundOutput> sound = std::make_shared<FakeSoundOutput>();

    bool whisperBinaryFound = true;
    bool whisperModelFound = true;
    bool ollamaBinaryFound = true;
    bool ollamaModelFound = true;
    float peak = -20.0F;
    std::vector<std::string> startupTrace;
    std::vector<std::string> menuActions;
    std::vector<std::string> logs;
    std::shared_ptr<AppController> controller;
    // Set before SetUp() runs to change the services the controller is created with.
    std::function<void(AppServices&)> adjustServices;

  private:
    AppServices makeServices();
    // Presses of 50 ms, 50 ms apart; then `settle` seconds pass.
    void clicks(int count, double settle);
    int recordingFiles_ = 0;
};

}  // namespace vurin::testing

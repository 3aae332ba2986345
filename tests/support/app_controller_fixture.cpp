#include "support/app_controller_fixture.h"

#include <algorithm>
#include <fstream>

#include "support/language.h"
#include "support/log.h"
#include "support/sound.h"

namespace vurin::testing {

AppServices AppControllerFixture::makeServices() {
    AppServices services;
    services.mainQueue = queue;
    services.shell = shell;
    services.recorder = recorder;
    services.localServer = whisper;
    services.ollamaServer = ollama;
    services.dictationPipeline = runner;
    services.injector = injectorInUse ? injectorInUse : injector;
    services.phone = phone;
    services.permissions = permissions;
    services.triggerCapture = trigger;
    services.settings = settings;
    services.probes = LocalServiceProbes{
        .findWhisperServerBin = [this]() -> std::optional<std::filesystem::path> {
            return whisperBinaryFound ? std::optional(std::filesystem::path("/bin/whisper-server"))
                                      : std::nullopt;
        },
        .whisperModelExists = [this] { return whisperModelFound; },
        .findOllamaBin = [this]() -> std::optional<std::filesystem::path> {
            return ollamaBinaryFound ? std::optional(std::filesystem::path("/bin/ollama"))
                                     : std::nullopt;
        },
        .ollamaModelInstalled = [this] { return ollamaModelFound; },
    };
    services.cleanupStaleRecordingFiles = [this] { startupTrace.push_back("cleanup"); };
    services.migrateEnvKeysToKeychain = [this] { startupTrace.push_back("migrate"); };
    services.checkForUpdatesOnLaunchIfEnabled = [this] { startupTrace.push_back("updates"); };
    services.peakDBFS = [this](const std::filesystem::path&) { return peak; };
    services.triggerKeyDisplayName = [](std::int64_t code) {
        return code == 105 ? std::string("F13") : "Key " + std::to_string(code);
    };
    services.showPhoneTriggerWindow = [this] { menuActions.push_back("phone"); };
    services.checkForUpdatesMenu = [this] { menuActions.push_back("updates"); };
    services.refreshSettingsAfterFallbackChange = [this] {
        menuActions.push_back("fallback settings");
    };
    if (adjustServices) {
        adjustServices(services);
    }
    return services;
}

void AppControllerFixture::SetUp() {
    setLogObserver([this](const std::string& line) { logs.push_back(line); });
    installSoundOutput(sound, queue);
    applyUILang("zh");
    controller = AppController::create(makeServices());
    controller->config() = Config{};
    controller->config().uiLang = "zh";  // the expected texts below are the Chinese ones
}

void AppControllerFixture::TearDown() {
    controller.reset();
    setLogObserver({});
    installSoundOutput(nullptr, nullptr);
}

void AppControllerFixture::launch() {
    controller->applicationDidFinishLaunching();
    queue->runPending();
}

void AppControllerFixture::pressLong() {
    controller->engine()->keyDown();
    queue->advance(0.3);
}

void AppControllerFixture::release() {
    controller->engine()->keyUp();
    queue->runPending();
}

void AppControllerFixture::singleClick() {
    controller->engine()->keyDown();
    queue->advance(0.05);
    controller->engine()->keyUp();
    queue->advance(0.25);
}

void AppControllerFixture::doubleClick() {
    controller->engine()->keyDown();
    queue->advance(0.05);
    controller->engine()->keyUp();
    queue->advance(0.05);
    controller->engine()->keyDown();
    queue->advance(0.05);
    controller->engine()->keyUp();
    queue->runPending();
}

std::filesystem::path AppControllerFixture::makeRecordingFile() {
    auto path = std::filesystem::temp_directory_path() /
                ("controller-test-" + std::to_string(++recordingFiles_) + ".wav");
    std::ofstream(path) << "RIFF";
    return path;
}

void AppControllerFixture::finishRecording(std::optional<std::filesystem::path> file,
                                           double duration) {
    recorder->finish(std::move(file), duration);
    queue->runPending();
}

void AppControllerFixture::confirmPaste(const std::string& text) {
    controller->injectionConfirmed(PendingInjection{.text = text, .target = {.appName = "Editor"}});
}

int AppControllerFixture::countLog(const std::string& line) const {
    return static_cast<int>(std::count(logs.begin(), logs.end(), line));
}

}  // namespace vurin::testing

namespace vurin::testing {

std::vector<std::string> AppControllerFixture::menuTitles() const {
    std::vector<std::string> titles;
    for (const auto& item : shell->statusItem->menu.items) {
        titles.push_back(item.kind == MenuItem::Kind::separator ? "-" : item.title);
    }
    return titles;
}

}  // namespace vurin::testing

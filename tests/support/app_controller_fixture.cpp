#include "support/app_controller_fixture.h"

#include <fstream>

#include "support/language.h"
#include "support/log.h"
#include "support/sound.h"

namespace vurin::testing {

AppServices AppControllerFixture::makeServices() {
    const auto found = [](const bool& flag, const char* path) {
        return [&flag, path]() -> std::optional<std::filesystem::path> {
            return flag ? std::optional<std::filesystem::path>(path) : std::nullopt;
        };
    };
    const auto note = [](std::vector<std::string>& trace, const char* step) {
        return [&trace, step] { trace.push_back(step); };
    };
    AppServices services{
        .mainQueue = queue,
        .shell = shell,
        .recorder = recorder,
        .localServer = whisper,
        .ollamaServer = ollama,
        .dictationPipeline = runner,
        .injector = injectorInUse ? injectorInUse : injector,
        .phone = phone,
        .permissions = permissions,
        .triggerCapture = trigger,
        .settings = settings,
        .probes = {.findWhisperServerBin = found(whisperBinaryFound, "/bin/whisper-server"),
                   .whisperModelExists = [this] { return whisperModelFound; },
                   .findOllamaBin = found(ollamaBinaryFound, "/bin/ollama"),
                   .ollamaModelInstalled = [this] { return ollamaModelFound; }},
        .cleanupStaleRecordingFiles = note(startupTrace, "cleanup"),
        .migrateEnvKeysToKeychain = note(startupTrace, "migrate"),
        .checkForUpdatesOnLaunchIfEnabled = note(startupTrace, "updates"),
        .peakDBFS = [this](const std::filesystem::path&) { return peak; },
        .triggerKeyDisplayName =
            [](std::int64_t code) {
                return code == 105 ? std::string("F13") : "Key " + std::to_string(code);
            },
        .showPhoneTriggerWindow = note(menuActions, "phone"),
        .checkForUpdatesMenu = note(menuActions, "updates"),
        .refreshSettingsAfterFallbackChange = note(menuActions, "fallback settings"),
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
    controller->config().uiLang = "zh";
}

void AppControllerFixture::TearDown() {
    controller.reset();
    setLogObserver({});
    installSoundOutput(nullptr, nullptr);
}

void AppControllerFixture::clicks(int count, double settle) {
    for (int press = 0; press < count; ++press) {
        controller->engine()->keyDown();
        queue->advance(0.05);
        controller->engine()->keyUp();
        queue->advance(press + 1 < count ? 0.05 : settle);
    }
    queue->runPending();
}

std::filesystem::path AppControllerFixture::makeRecordingFile() {
    auto path = std::filesystem::temp_directory_path() /
                ("controller-test-" + std::to_string(++recordingFiles_) + ".wav");
    std::ofstream(path) << "RIFF";
    return path;
}

std::vector<std::string> AppControllerFixture::menuTitles() const {
    std::vector<std::string> titles;
    for (const auto& item : shell->statusItem->menu.items) {
        titles.push_back(item.kind == MenuItem::Kind::separator ? "-" : item.title);
    }
    return titles;
}

}  // namespace vurin::testing

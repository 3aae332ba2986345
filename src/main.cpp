// Process entry: wires the Linux platform and the Qt renderer into the application controller.
#include <QApplication>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <variant>

#include "app/app_controller.h"
#include "app/display_session.h"
#include "app/local_service_probes.h"
#include "app/permission_onboarding.h"
#include "app/permission_wiring.h"
#include "audio/peak_level.h"
#include "audio/recorder.h"
#include "audio/recording_files.h"
#include "config/config.h"
#include "config/keychain.h"
#include "injection/paste_injector.h"
#include "input/trigger_delivery.h"
#include "input/trigger_key_names.h"
#include "local_services/local_ollama_server.h"
#include "local_services/local_whisper_server.h"
#include "phone/phone_remote_controller.h"
#include "phone/phone_remote_wiring.h"
#include "phone/phone_trigger_server.h"
#include "phone/phone_window_presenter.h"
#include "pipeline/dictation_pipeline.h"
#include "platform/linux/atspi_focus_reader.h"
#include "platform/linux/audio_capture_pulse.h"
#include "platform/linux/desktop_settings_linux.h"
#include "platform/linux/secret_store_libsecret.h"
#include "platform/linux/sound_canberra.h"
#include "platform/linux/trigger_command.h"
#include "platform/trigger_bus.h"
#include "platform/wayland/wayland_globals.h"
#include "providers/provider_runtime_status.h"
#include "settings_ui/settings_wiring.h"
#include "support/log.h"
#include "support/sound.h"
#include "ui/qt/qt_application_shell.h"
#include "ui/qt/qt_clipboard.h"
#include "ui/qt/qt_main_queue.h"
#include "ui/qt/qt_window_renderer.h"
#include "ui/qt/termination_signals.h"
#include "ui/qt/trigger_bus_service.h"
#include "wiring/session_platform.h"

namespace {

// Cue sounds, the keychain and the key names are process-wide services.
void installProcessServices(const std::shared_ptr<vurin::MainQueue>& mainQueue,
                            const vurin::SessionPlatform& platform) {
    vurin::installSoundOutput(std::make_shared<vurin::CanberraSoundOutput>(), mainQueue);
    vurin::installSecretStore(std::make_shared<vurin::LibsecretSecretStore>());
    vurin::setCloudKeyPresenceLookup([](const std::string& account) {
        const auto key = vurin::Keychain::get(account);
        return key && !key->empty();
    });
    vurin::setEvdevKeyNameLookup(platform.keyName);
}

// Paste, send and undo into the focused application: the session's focus reading and
// keystrokes, and the clipboard.
std::shared_ptr<vurin::TextInjector> makeTextInjector(
    const std::shared_ptr<vurin::MainQueue>& mainQueue, const vurin::SessionPlatform& platform,
    std::shared_ptr<vurin::Clipboard> clipboard) {
    return std::make_shared<vurin::PasteInjector>(mainQueue, platform.focus, std::move(clipboard),
                                                  platform.keystrokes);
}

// The session to serve, from --session or the environment; Qt is told to draw there too.
// Nothing, with `status` the exit status, when Vurin cannot start there.
std::optional<vurin::DisplaySession> chooseSession(int& argc, char** argv, int& status) {
    const vurin::SessionOption option = vurin::takeSessionOption(argc, argv);
    if (const auto* usage = std::get_if<std::string>(&option)) {
        std::fprintf(stderr, "%s\n", usage->c_str());
        status = 2;
        return std::nullopt;
    }
    const vurin::DisplaySession session =
        vurin::chooseDisplaySession(vurin::sessionEnvironmentFromProcess(),
                                    std::get<std::optional<vurin::DisplaySession>>(option));
    if (session == vurin::DisplaySession::wayland) {
        // Qt would abort without a word a log could keep.
        std::string error;
        if (!vurin::readWaylandGlobals(&error)) {
            vurin::log("❌ " + error);
            std::fprintf(stderr, "vurin: %s\n", error.c_str());
            status = 1;
            return std::nullopt;
        }
    }
    // A platform the user named outright stays theirs.
    setenv("QT_QPA_PLATFORM", session == vurin::DisplaySession::wayland ? "wayland" : "xcb", 0);
    return session;
}

}  // namespace

int main(int argc, char** argv) {
    // A compositor's key binding runs this on every press and release: no display, no Qt.
    if (const std::optional<int> status = vurin::runTriggerCommand(argc, argv)) {
        return *status;
    }
    int status = 0;
    const std::optional<vurin::DisplaySession> session = chooseSession(argc, argv, status);
    if (!session) {
        return status;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName("Vurin");
    // The desktop id: Wayland compositors and portals know Vurin by its desktop entry.
    QApplication::setDesktopFileName(vurin::trigger_bus::serviceName);
    QApplication::setQuitOnLastWindowClosed(false);  // a tray program: windows come and go
    vurin::quitEventLoopOnTerminationSignals();
    // A peer that hangs up mid-write (a phone, a local service) must cost one failed write,
    // not the process.
    std::signal(SIGPIPE, SIG_IGN);

    // Qt applications show their text fields on the accessibility bus only when it is enabled.
    vurin::enableDesktopAccessibility();
    auto mainQueue = std::make_shared<vurin::QtMainQueue>(&application);
    std::optional<vurin::SessionPlatform> platform = *session == vurin::DisplaySession::wayland
                                                         ? vurin::makeWaylandPlatform(mainQueue)
                                                         : vurin::makeX11Platform(mainQueue);
    if (!platform) {
        return 1;
    }
    vurin::log(platform->startupLine);
    installProcessServices(mainQueue, *platform);

    auto phone = vurin::PhoneRemoteController::create(
        mainQueue, std::make_shared<vurin::PhoneTriggerServer>(mainQueue));

    vurin::AppServices services;
    services.mainQueue = mainQueue;
    services.shell = std::make_shared<vurin::QtApplicationShell>();
    services.recorder = vurin::Recorder::create(std::make_shared<vurin::PulseAudioCapture>());
    auto windows = std::make_shared<vurin::QtWindowRenderer>();
    auto desktopSettings = std::make_shared<vurin::LinuxDesktopSettings>();
    desktopSettings->setSession(platform->session);
    auto permissions = vurin::PermissionOnboarding::create(
        {.mainQueue = mainQueue,
         .shell = services.shell,
         .windows = windows,
         .probe = platform->probe,
         .desktopSettings = desktopSettings,
         // The permission check reads the microphone on the main thread.
         .audio = std::make_shared<vurin::PulseAudioCapture>(vurin::PulseCaller::mainThread),
         .recorder = services.recorder,
         .helpPage = vurin::configDir() / "permissions-help.html",
         .wayland = platform->permissionHelp});
    services.permissions = permissions;
    services.showPhoneTriggerWindow = [weak = std::weak_ptr<vurin::PhoneRemoteController>(phone)] {
        if (auto live = weak.lock()) {
            live->showPhoneTriggerWindow();
        }
    };
    services.dictationPipeline = std::make_shared<vurin::DictationPipeline>(mainQueue);
    std::shared_ptr<vurin::Clipboard> clipboard = platform->clipboard;
    if (!clipboard) {
        clipboard = std::make_shared<vurin::QtClipboard>(platform->clipboardOwnerAnswers,
                                                         std::chrono::milliseconds(1000),
                                                         platform->clipboardReaderProcess);
    }
    services.injector =
        makeTextInjector(mainQueue, *platform, platform->typeInsteadOfPaste ? nullptr : clipboard);
    // Stopped (SIGTERM) by applicationWillTerminate; a killed Vurin takes them down through
    // the children's parent-death signal.
    services.localServer = vurin::LocalWhisperServer::create(mainQueue);
    services.ollamaServer = vurin::LocalOllamaServer::create(mainQueue);
    services.probes = vurin::installedLocalServiceProbes();
    services.phone = phone;
    services.triggerCapture = platform->triggerCapture;
    services.triggerKeyDisplayName = vurin::triggerKeyDisplayName;
    services.migrateEnvKeysToKeychain = [] { vurin::migrateEnvKeysToKeychain(); };
    services.cleanupStaleRecordingFiles = [] { vurin::cleanupStaleRecordingFiles(); };
    services.peakDBFS = [](const std::filesystem::path& file) { return vurin::peakDBFS(file); };
    auto settings = vurin::installSettingsController(
        services, {.windows = windows,
                   .clipboard = clipboard,
                   .permissions = permissions,
                   .startDetectKey = platform->startDetectKey,
                   .triggerKeyLabel = platform->triggerKeyLabel,
                   .compositorBindingLines = platform->compositorBindingLines,
                   .gnomeShortcuts = platform->gnomeShortcuts,
                   .offerGnomeShortcuts = platform->offerGnomeShortcuts,
                   .gnomeKeys = platform->gnomeKeys});
    auto shell = services.shell;

    auto controller = vurin::AppController::create(std::move(services));
    platform->attach(controller, [weak = std::weak_ptr(settings)](const std::string& text) {
        if (auto live = weak.lock()) {
            live->setTriggerKeyLabel(text);
        }
    });
    settings->attach(controller);
    vurin::TriggerBusService triggerBus(
        platform->bindingEvent,
        [&platform, weak = std::weak_ptr(controller)](vurin::TriggerCommand command, double at) {
            if (platform->bindingCommand) {
                platform->bindingCommand(command);
            }
            if (auto live = weak.lock()) {
                live->triggerCommand(command, at);
            }
        },
        [weak = std::weak_ptr(settings)] {
            if (auto live = weak.lock()) {
                live->showSettings();
            }
        });
    // Two starts at the same moment race for the name: the one that loses hands its start to
    // the winner. A winner still starting may not answer yet, and one that just quit leaves the
    // name free, so both are tried again for a few seconds; then this start ends. Two full
    // Vurins would each take the trigger and paste every dictation twice.
    vurin::BusName busName = triggerBus.registerOnSessionBus();
    for (int attempt = 0; busName == vurin::BusName::takenByAnother && attempt < 3; ++attempt) {
        const std::optional<int> shown = vurin::showRunningVurin();
        if (shown == 0) {
            vurin::log(
                "🪟 已有一个 Vurin 在运行,已请它打开设置窗口,本进程退出");
            platform->stop();
            return 0;
        }
        if (shown) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
        busName = triggerBus.registerOnSessionBus();
    }
    if (busName == vurin::BusName::takenByAnother) {
        vurin::log(std::string("❌ 会话总线名 ") + vurin::trigger_bus::serviceName +
                   " 已被另一个 Vurin 占用,但它没有响应;本进程退出,避免两个 Vurin "
                   "同时运行(请结束没有响应的那个后重试)");
        platform->stop();
        return 1;
    }
    platform->bindingRegistered(busName == vurin::BusName::owned);
    phone->attach(vurin::phoneRemoteHooksFor(controller, shell));
    phone->setWindowPresenter(vurin::GenericPhoneWindowPresenter::create(windows, shell));
    permissions->attach(vurin::permissionHooksFor(controller, platform->triggerHeld));

    QTimer::singleShot(0, &application,
                       [&controller] { controller->applicationDidFinishLaunching(); });
    status = QApplication::exec();
    controller->applicationWillTerminate();
    platform->stop();
    vurin::installSoundOutput(nullptr, nullptr);
    return status;
}

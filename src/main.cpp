// Process entry: wires the Linux platform and the Qt renderer into the application controller.
#include <QApplication>
#include <QTimer>
#include <QWindow>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "app/app_controller.h"
#include "app/application_options.h"
#include "app/local_service_probes.h"
#include "app/permission_onboarding.h"
#include "app/permission_wiring.h"
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
#include "platform/linux/background_portal.h"
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
#include "ui/qt/qt_icons.h"
#include "ui/qt/qt_main_queue.h"
#include "ui/qt/qt_window_activation.h"
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
std::optional<vurin::DisplaySession> chooseSession(const vurin::ApplicationOptions& options,
                                                   int& status) {
    const vurin::DisplaySession session =
        vurin::chooseDisplaySession(vurin::sessionEnvironmentFromProcess(), options.session);
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

// The token of this start for the session served: Wayland's (GLib's launchers also put it in
// DESKTOP_STARTUP_ID), else X11's startup id.
std::string tokenFor(vurin::DisplaySession session, const vurin::StartupTokens& tokens) {
    if (session == vurin::DisplaySession::wayland) {
        return tokens.activationToken.empty() ? tokens.startupId : tokens.activationToken;
    }
    return tokens.startupId;
}

// One Vurin per session: the bus name is taken before anything else starts, so that a Vurin
// started at the same moment as another leaves before it grabs a key or opens a portal
// session. The running one is asked to bring its window forward (a start at login only asks
// whether it is there); when it quit meanwhile, the name is taken again. The exit status when
// this start is to end.
std::optional<int> claimBusName(vurin::TriggerBusService& bus, vurin::BusName& name,
                                const vurin::StartupTokens& tokens, bool autostart) {
    constexpr int attempts = 3;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        name = bus.registerOnSessionBus();
        if (name != vurin::BusName::takenByAnother) {
            return std::nullopt;
        }
        const vurin::RunningVurinAnswer running = vurin::askRunningVurin(tokens, !autostart);
        switch (running.state) {
            case vurin::RunningVurin::answered:
                vurin::log(autostart ? "🪟 已有一个 Vurin 在运行,本进程退出"
                                     : "🪟 已有一个 Vurin "
                                       "在运行,已请它把窗口带到前面,本进程退出");
                return 0;
            case vurin::RunningVurin::silent:
                vurin::log(std::string("❌ 已有一个 Vurin 占着会话总线名 ") +
                           vurin::trigger_bus::serviceName + ",但它没有回应(" + running.detail +
                           "):本进程退出,不与它同时运行");
                return 1;
            case vurin::RunningVurin::none:
                break;
        }
    }
    vurin::log(std::string("❌ 会话总线名 ") + vurin::trigger_bus::serviceName +
               " 几次都没能取得:本进程退出");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    // A compositor's key binding runs this on every press and release: no display, no Qt.
    if (const std::optional<int> status = vurin::runTriggerCommand(argc, argv)) {
        return *status;
    }
    const vurin::ParsedApplicationOptions parsed = vurin::takeApplicationOptions(argc, argv);
    if (const auto* usage = std::get_if<std::string>(&parsed)) {
        std::fprintf(stderr, "%s\n", usage->c_str());
        return 2;
    }
    const auto& options = std::get<vurin::ApplicationOptions>(parsed);
    int status = 0;
    const std::optional<vurin::DisplaySession> session = chooseSession(options, status);
    if (!session) {
        return status;
    }
    // This start's token is Vurin's to use: neither Qt (which would spend it on whatever window
    // shows first) nor the programs Vurin starts later may take it for theirs.
    const vurin::StartupTokens tokens = vurin::startupTokensFromEnvironment();
    unsetenv("XDG_ACTIVATION_TOKEN");
    unsetenv("DESKTOP_STARTUP_ID");
    std::error_code ignored;
    const bool firstStart = !std::filesystem::exists(vurin::configURL(), ignored);
    QApplication application(argc, argv);
    QApplication::setApplicationName("Vurin");
    QApplication::setWindowIcon(vurin::applicationIcon());
    // The desktop id: Wayland compositors and portals know Vurin by its desktop entry.
    QApplication::setDesktopFileName(vurin::trigger_bus::serviceName);
    QApplication::setQuitOnLastWindowClosed(false);  // a tray program: windows come and go
    vurin::quitEventLoopOnTerminationSignals();
    // A peer that hangs up mid-write (a phone, a local service) must cost one failed write,
    // not the process.
    std::signal(SIGPIPE, SIG_IGN);

    vurin::TriggerBusService triggerBus;
    vurin::BusName busName = vurin::BusName::unavailable;
    if (const std::optional<int> leave =
            claimBusName(triggerBus, busName, tokens, options.autostart)) {
        return *leave;
    }

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
    services.start = {.autostart = options.autostart,
                      .firstStart = firstStart,
                      .activationToken = tokenFor(*session, tokens)};
    auto background = std::make_shared<vurin::BackgroundPortal>();
    services.requestBackground = [background, weakQueue = std::weak_ptr(mainQueue)](
                                     const std::string& reason, auto done) {
        background->request(
            reason, [weakQueue, done](vurin::BackgroundAnswer answer, const std::string& detail) {
                if (auto queue = weakQueue.lock()) {
                    queue->post([done, answer, detail] { done(answer, detail); });
                }
            });
    };
    services.ownWindowFocused = [] { return QGuiApplication::focusWindow() != nullptr; };
    services.completeStartup = [](const std::string& token) { vurin::completeStartup(token); };
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
    triggerBus.setHandlers(
        {.deliver = platform->bindingEvent,
         .command =
             [&platform, weak = std::weak_ptr(controller)](vurin::TriggerCommand command,
                                                           double at) {
                 if (platform->bindingCommand) {
                     platform->bindingCommand(command);
                 }
                 if (auto live = weak.lock()) {
                     live->triggerCommand(command, at);
                 }
             },
         .present =
             [weak = std::weak_ptr(settings),
              session = *session](const vurin::StartupTokens& asked) {
                 // Without the launcher's token nothing says the user is not typing elsewhere
                 // (a terminal's `vurin`): the window comes up without the keyboard.
                 const std::string token = tokenFor(session, asked);
                 if (auto live = weak.lock()) {
                     live->showSettings(token.empty() ? vurin::WindowActivation::unrequested()
                                                      : vurin::WindowActivation{.token = token});
                 }
             }});
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

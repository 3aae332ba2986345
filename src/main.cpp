// Process entry: wires the Linux platform and the Qt renderer into the application controller.
#include <QApplication>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <memory>
#include <optional>

#include "app/app_controller.h"
#include "app/event_tap_wiring.h"
#include "app/local_service_probes.h"
#include "app/permission_onboarding.h"
#include "app/permission_wiring.h"
#include "audio/peak_level.h"
#include "audio/recorder.h"
#include "audio/recording_files.h"
#include "config/config.h"
#include "config/keychain.h"
#include "injection/paste_injector.h"
#include "input/event_tap.h"
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
#include "platform/x11/focus_reader_x11.h"
#include "platform/x11/key_grab_x11.h"
#include "platform/x11/keystrokes_xtest.h"
#include "platform/x11/permission_probe_x11.h"
#include "platform/x11/selection_probe_x11.h"
#include "providers/provider_runtime_status.h"
#include "settings_ui/settings_wiring.h"
#include "support/sound.h"
#include "ui/qt/qt_application_shell.h"
#include "ui/qt/qt_clipboard.h"
#include "ui/qt/qt_main_queue.h"
#include "ui/qt/qt_window_renderer.h"
#include "ui/qt/termination_signals.h"
#include "ui/qt/trigger_bus_service.h"

namespace {

// Cue sounds, the keychain and the key names are process-wide services.
void installProcessServices(const std::shared_ptr<vurin::MainQueue>& mainQueue,
                            const std::shared_ptr<vurin::X11KeyGrab>& keyGrab) {
    vurin::installSoundOutput(std::make_shared<vurin::CanberraSoundOutput>(), mainQueue);
    vurin::installSecretStore(std::make_shared<vurin::LibsecretSecretStore>());
    vurin::setCloudKeyPresenceLookup([](const std::string& account) {
        const auto key = vurin::Keychain::get(account);
        return key && !key->empty();
    });
    vurin::setEvdevKeyNameLookup([weak = std::weak_ptr<vurin::X11KeyGrab>(keyGrab)](int evdev) {
        auto live = weak.lock();
        return live ? live->keyName(evdev) : std::nullopt;
    });
}

// The desktop clipboard; a foreign owner is asked with a short deadline first, as a hung owner
// would stall Qt for seconds. Needs the QApplication.
std::shared_ptr<vurin::Clipboard> makeClipboard() {
    auto probe = std::make_shared<vurin::X11SelectionProbe>();
    return std::make_shared<vurin::QtClipboard>([probe](vurin::ClipboardSelection selection) {
        return probe->ownerAnswers(selection, std::chrono::milliseconds(300));
    });
}

// Paste, send and undo into the focused application: X11 focus and AT-SPI, the clipboard,
// XTest keystrokes.
std::shared_ptr<vurin::TextInjector> makeTextInjector(
    const std::shared_ptr<vurin::MainQueue>& mainQueue,
    std::shared_ptr<vurin::Clipboard> clipboard) {
    return std::make_shared<vurin::PasteInjector>(
        mainQueue, std::make_shared<vurin::X11FocusReader>(), std::move(clipboard),
        std::make_shared<vurin::XTestKeystrokeSender>());
}

}  // namespace

int main(int argc, char** argv) {
    // A compositor's key binding runs this on every press and release: no display, no Qt.
    if (const std::optional<int> status = vurin::runTriggerCommand(argc, argv)) {
        return *status;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName("Vurin");
    QApplication::setQuitOnLastWindowClosed(false);  // a tray program: windows come and go
    vurin::quitEventLoopOnTerminationSignals();
    // A peer that hangs up mid-write (a phone, a local service) must cost one failed write,
    // not the process.
    std::signal(SIGPIPE, SIG_IGN);

    // Qt applications show their text fields on the accessibility bus only when it is enabled.
    vurin::enableDesktopAccessibility();
    auto mainQueue = std::make_shared<vurin::QtMainQueue>(&application);
    auto keyGrab = std::make_shared<vurin::X11KeyGrab>();
    installProcessServices(mainQueue, keyGrab);

    auto eventTap = vurin::EventTap::create(mainQueue, keyGrab);
    auto phone = vurin::PhoneRemoteController::create(
        mainQueue, std::make_shared<vurin::PhoneTriggerServer>(mainQueue));

    vurin::AppServices services;
    services.mainQueue = mainQueue;
    services.shell = std::make_shared<vurin::QtApplicationShell>();
    services.recorder = vurin::Recorder::create(std::make_shared<vurin::PulseAudioCapture>());
    auto windows = std::make_shared<vurin::QtWindowRenderer>();
    auto permissions = vurin::PermissionOnboarding::create(
        {.mainQueue = mainQueue,
         .shell = services.shell,
         .windows = windows,
         .probe = std::make_shared<vurin::X11PermissionProbe>(),
         .desktopSettings = std::make_shared<vurin::LinuxDesktopSettings>(),
         // The permission check reads the microphone on the main thread.
         .audio = std::make_shared<vurin::PulseAudioCapture>(vurin::PulseCaller::mainThread),
         .recorder = services.recorder,
         .helpPage = vurin::configDir() / "permissions-help.html"});
    services.permissions = permissions;
    services.showPhoneTriggerWindow = [weak = std::weak_ptr<vurin::PhoneRemoteController>(phone)] {
        if (auto live = weak.lock()) {
            live->showPhoneTriggerWindow();
        }
    };
    services.dictationPipeline = std::make_shared<vurin::DictationPipeline>(mainQueue);
    auto clipboard = makeClipboard();
    services.injector = makeTextInjector(mainQueue, clipboard);
    // Stopped (SIGTERM) by applicationWillTerminate; a killed Vurin takes them down through
    // the children's parent-death signal.
    services.localServer = vurin::LocalWhisperServer::create(mainQueue);
    services.ollamaServer = vurin::LocalOllamaServer::create(mainQueue);
    services.probes = vurin::installedLocalServiceProbes();
    services.phone = phone;
    services.triggerCapture = eventTap;
    services.triggerKeyDisplayName = vurin::triggerKeyDisplayName;
    services.migrateEnvKeysToKeychain = [] { vurin::migrateEnvKeysToKeychain(); };
    services.cleanupStaleRecordingFiles = [] { vurin::cleanupStaleRecordingFiles(); };
    services.peakDBFS = [](const std::filesystem::path& file) { return vurin::peakDBFS(file); };
    auto settings = vurin::installSettingsController(
        services, {.windows = windows,
                   .clipboard = clipboard,
                   .permissions = permissions,
                   .startDetectKey = [weak = std::weak_ptr(eventTap)] {
                       if (auto tap = weak.lock()) {
                           tap->startDetectKey();
                       }
                   }});
    auto shell = services.shell;

    auto controller = vurin::AppController::create(std::move(services));
    vurin::wireEventTap(*eventTap, controller,
                        [weak = std::weak_ptr(settings)](const std::string& text) {
                            if (auto live = weak.lock()) {
                                live->setTriggerKeyLabel(text);
                            }
                        });
    settings->attach(controller);
    vurin::TriggerBusService triggerBus(
        [mainQueue, engine = std::weak_ptr(controller->engine())](bool down) {
            vurin::postTriggerToEngine(*mainQueue, engine, down);
        });
    triggerBus.registerOnSessionBus();
    phone->attach(vurin::phoneRemoteHooksFor(controller, shell));
    phone->setWindowPresenter(vurin::GenericPhoneWindowPresenter::create(windows, shell));
    permissions->attach(vurin::permissionHooksFor(controller, [weak = std::weak_ptr(eventTap)] {
        auto tap = weak.lock();
        return tap && tap->holdsTrigger();
    }));

    QTimer::singleShot(0, &application,
                       [&controller] { controller->applicationDidFinishLaunching(); });
    const int status = QApplication::exec();
    controller->applicationWillTerminate();
    eventTap->stop();
    vurin::installSoundOutput(nullptr, nullptr);
    return status;
}

#include "support/settings_controller_fixture.h"

#include "config/keychain.h"
#include "providers/provider_runtime_status.h"

namespace vurin::testing {

void SettingsControllerFixture::SetUp() {
    std::filesystem::remove_all(configDir());
    installSecretStore(keychain);
    setCloudKeyPresenceLookup([](const std::string& account) {
        const auto key = Keychain::get(account);
        return key && !key->empty();
    });
    updates = std::make_shared<FakeUpdateChecker>(queue, "http://127.0.0.1:1/version.json", "1.0");
    settingsController = SettingsController::create(SettingsServices{
        .mainQueue = queue,
        .shell = shell,
        .recorder = recorder,
        .localServer = whisper,
        .ollamaServer = ollama,
        .permissions = permissions,
        .clipboard = clipboard,
        .loginItem = loginItem,
        .terminal = terminal,
        .updateChecker = updates,
        .openURL =
            [this](const std::string& url) {
                openedURLs.push_back(url);
                return true;
            },
        .openLoginItemsSettings = [this] { ++loginItemSettingsOpened; },
    });
    adjustServices = [weak = std::weak_ptr(settingsController)](AppServices& services) {
        services.settings = weak.lock();
        services.refreshSettingsAfterFallbackChange = [weak] {
            if (auto live = weak.lock()) {
                live->refreshSettingsAfterFallbackChange();
            }
        };
    };
    AppControllerFixture::SetUp();
    settingsController->attach(controller);
}

void SettingsControllerFixture::TearDown() {
    AppControllerFixture::TearDown();
    settingsController.reset();
    setCloudKeyPresenceLookup({});
    installSecretStore(nullptr);
    std::filesystem::remove_all(configDir());
}

std::vector<std::string> SettingsControllerFixture::alertLines() const {
    std::vector<std::string> lines;
    for (const auto& alert : shell->alerts) {
        std::string line = alert.messageText + " | " + alert.informativeText;
        for (const auto& button : alert.buttons) {
            line += " | " + button;
        }
        lines.push_back(line);
    }
    return lines;
}

}  // namespace vurin::testing

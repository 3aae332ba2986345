#include "app/app_controller.h"
#include "config/keychain.h"
#include "providers/provider_catalogue.h"
#include "settings_ui/settings_controller.h"
#include "support/language.h"
#include "support/log.h"
#include "support/text.h"

namespace vurin {

namespace {

std::string fieldKey(std::string_view scope, std::string_view providerId) {
    return std::string(scope) + ":" + std::string(providerId);
}

}  // namespace

void SettingsController::saveSTTCloudKey() {
    if (auto app = controller()) {
        saveCloudKey("stt", app->config().sttCloudProvider);
    }
}

void SettingsController::savePolishCloudKey() {
    if (auto app = controller()) {
        saveCloudKey("polish", app->config().polishCloudProvider);
    }
}

void SettingsController::clearSTTCloudKey() {
    if (auto app = controller()) {
        clearCloudKey(app->config().sttCloudProvider);
    }
}

void SettingsController::clearPolishCloudKey() {
    if (auto app = controller()) {
        clearCloudKey(app->config().polishCloudProvider);
    }
}

// The key dialogs have only the platform's default button.
void SettingsController::saveCloudKey(std::string_view scope, std::string_view providerId) {
    const auto provider = cloudProviderInfo(providerId);
    const auto& name = provider.name;
    // The field is registered under the id the card was built for; an unknown stored id shows
    // the Groq card, so look the text up under the catalogue's id.
    const auto field = settingsProviderFields_.find(fieldKey(scope, provider.id));
    const std::string text = field != settingsProviderFields_.end() && settingsWindow_
                                 ? settingsWindow_->text(field->second)
                                 : std::string();
    const std::string key(trimWhitespaceAndNewlines(text));
    if (key.empty()) {
        showAlert(
            {.messageText = L("请输入新的 " + name + " Key", "Enter a new " + name + " key"),
             .informativeText =
                 L("空输入不会覆盖已保存的 Key。如需删除,请点「清除 Key」。",
                   "An empty field will not overwrite a saved key. Use Clear key to remove it.")});
        return;
    }
    if (!Keychain::set(key, provider.keyAccount)) {
        showAlert({.messageText = L("无法保存 " + name + " Key", "Could not save " + name + " key"),
                   .informativeText = L("系统钥匙环(Secret Service)写入失败。原来已保存的 Key "
                                        "没有被删除,请稍后重试。",
                                        "The system keyring (Secret Service) could not be "
                                        "updated. The previously saved key was preserved; try "
                                        "again later.")});
        return;
    }
    log("🔑 " + L(name + " Key 已保存", name + " key saved"));
    rebuildAfterProviderChange();
}

void SettingsController::clearCloudKey(std::string_view providerId) {
    const auto provider = cloudProviderInfo(providerId);
    const auto& name = provider.name;
    const int answer = showAlert(
        {.messageText = L("清除 " + name + " Key?", "Clear " + name + " key?"),
         .informativeText =
             L("同一家服务商的 Key 在语音识别和文本润色间共享。清除后,使用 " + name +
                   " 的云端识别/润色都会不可用,直到重新保存 Key。",
               "Keys are shared between Speech and Polish for the same provider. Clearing this "
               "key disables " +
                   name + " cloud Speech/Polish until you save a new key."),
         .buttons = {L("清除 Key", "Clear key"), L("取消", "Cancel")}});
    if (answer != kAlertFirstButtonReturn) {
        return;
    }
    Keychain::deleteItem(provider.keyAccount);
    log("🔑 " + L(name + " Key 已清除", name + " key cleared"));
    rebuildAfterProviderChange();
}

void SettingsController::sttCloudProviderChanged(int index) {
    const auto providers = cloudProviderList();
    auto app = controller();
    if (!app || index < 0 || static_cast<std::size_t>(index) >= providers.size()) {
        return;
    }
    const auto& provider = providers[static_cast<std::size_t>(index)];
    app->config().sttCloudProvider = provider.id;
    saveAndRebuildMenu(*app);
    rebuildSettingsPane(SettingsTab::speech);
    log(L("语音识别云端模型已设为:", "Speech cloud model: ") + provider.name);
}

void SettingsController::polishCloudProviderChanged(int index) {
    const auto providers = cloudProviderList();
    auto app = controller();
    if (!app || index < 0 || static_cast<std::size_t>(index) >= providers.size()) {
        return;
    }
    const auto& provider = providers[static_cast<std::size_t>(index)];
    app->config().polishCloudProvider = provider.id;
    saveAndRebuildMenu(*app);
    rebuildSettingsPane(SettingsTab::polish);
    log(L("文本润色云端模型已设为:", "Polish cloud model: ") + provider.name);
}

}  // namespace vurin

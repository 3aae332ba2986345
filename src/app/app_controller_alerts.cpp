#include "app/app_controller.h"
#include "support/language.h"

namespace vurin {

namespace {

constexpr int kSpeechSettingsTab = 1;

AlertSpec notConfiguredAlert() {
    return AlertSpec{
        .messageText = L("Vurin 还没配置好", "Vurin isn't set up yet"),
        .informativeText =
            L("现在卡在语音识别:本地 whisper 未就绪,云端识别也没有 Key,所以无法出字。\n"
              "请先在「语音识别」里二选一:① 选云端并保存 Key;② 安装本地 whisper。"
              "文本润色可以之后再配置。",
              "Speech recognition is blocked: local whisper is not ready and cloud Speech has "
              "no key, so Vurin cannot produce text.\nFirst, choose one in Speech: ① switch to "
              "Cloud and save a key, or ② install local whisper. Polish can be configured "
              "later."),
        .buttons = {L("打开语音识别设置", "Open Speech Settings"), L("以后再说", "Later")}};
}

AlertSpec localUnavailableAlert() {
    return AlertSpec{
        .messageText = L("本地语音识别还没就绪", "Local speech is not ready"),
        .informativeText =
            L("Vurin 当前是严格本地模式,不会自动把音频发到云端。请安装/启动本地模型,或在「语音识"
              "别」里切到云端;如果你接受回退,可在本地模型区开启本地失败时回退云端。",
              "Vurin is in strict local mode and will not send audio to the cloud "
              "automatically. Install/start the local models, switch Speech to Cloud, or enable "
              "cloud fallback in the local models section if you accept fallback."),
        .buttons = {L("打开设置", "Open Settings"), L("以后再说", "Later")}};
}

}  // namespace

void AppController::warnNotConfigured() {
    showOneTimeAlert(didWarnNotConfigured_, notConfiguredAlert());
}

void AppController::warnLocalUnavailable() {
    showOneTimeAlert(didWarnLocalUnavailable_, localUnavailableAlert());
}

bool AppController::showOneTimeAlert(bool& flag, const AlertSpec& alert) {
    if (flag) {
        return false;
    }
    flag = true;
    auto& shell = *services_.shell;
    shell.setActivationPolicy(ActivationPolicy::regular);
    shell.activateIgnoringOtherApps();
    if (shell.runModalAlert(alert) == kAlertFirstButtonReturn) {
        // The policy stays regular until the settings window closes.
        services_.settings->showSettings();
        services_.settings->selectTab(kSpeechSettingsTab);
    } else {
        shell.setActivationPolicy(ActivationPolicy::accessory);
    }
    return true;
}

}  // namespace vurin

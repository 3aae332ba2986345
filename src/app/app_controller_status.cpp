#include "app/app_controller.h"
#include "providers/provider_runtime_status.h"
#include "support/language.h"

namespace vurin {

namespace {

struct StatusTexts {
    const char* title;
    const char* toolTipZh;
    const char* toolTipEn;
};

StatusTexts statusTexts(AppState state) {
    switch (state) {
        case AppState::recording:
            return {"🔴", "录音中…", "Recording…"};
        case AppState::transcribing:
            return {"⏳", "转写中…", "Transcribing…"};
        case AppState::pendingSend:
            return {"✅", "待发送(单击发送)", "Ready to send (click to send)"};
        case AppState::idle:
            break;
    }
    return {"🎙️", "就绪", "Ready"};
}

MenuItem infoLine(std::string title) {
    return MenuItem{.title = std::move(title), .enabled = false};
}

}  // namespace

void AppController::updateStatusIcon() {
    if (!statusItem_) {
        return;
    }
    const StatusTexts texts = statusTexts(appState_);
    statusItem_->setTitle(texts.title);
    statusItem_->setToolTip("Vurin — " + L(texts.toolTipZh, texts.toolTipEn));
}

std::string AppController::statusLine() const {
    switch (appState_) {
        case AppState::recording:
            return L("状态:录音中…", "Status: Recording…");
        case AppState::transcribing:
            return L("状态:转写润色中…", "Status: Transcribing…");
        case AppState::pendingSend:
            return L("状态:待发送", "Status: Ready to send");
        case AppState::idle:
            break;
    }
    const std::string key = services_.triggerKeyDisplayName(config_.keyCode);
    return L("状态:就绪(" + key + ")", "Status: Ready (" + key + ")");
}

MenuModel AppController::buildStatusMenu() {
    const auto status = providerRuntimeStatus(config_, services_.localServer->isReady(),
                                              services_.ollamaServer->isReady());
    auto action = [weak = weakSelf()](void (AppController::*operation)()) {
        return [weak, operation] {
            if (auto self = weak.lock()) {
                ((*self).*operation)();
            }
        };
    };
    auto forward = [](const std::function<void()>& block) { return [block] { block(); }; };

    MenuModel menu;
    auto& items = menu.items;
    items.push_back(infoLine(statusLine()));
    items.push_back(infoLine("  " + status.menuLine()));
    if (status.needsCloudKey) {
        items.push_back(infoLine("  " + L("云端 Key 未设置", "Cloud key missing") + ": " +
                                 status.cloudProviderName));
    }
    items.push_back(MenuItem::separator());
    items.push_back(MenuItem{.title = config_.sttProvider == "local"
                                          ? L("语音识别 → 切云端", "Speech → switch to Cloud")
                                          : L("语音识别 → 切本地", "Speech → switch to Local"),
                             .action = action(&AppController::quickToggleSTT)});
    items.push_back(MenuItem{.title = config_.polishProvider == "local"
                                          ? L("文本润色 → 切云端", "Polish → switch to Cloud")
                                          : L("文本润色 → 切本地", "Polish → switch to Local"),
                             .action = action(&AppController::quickTogglePolish)});
    items.push_back(MenuItem::separator());
    items.push_back(MenuItem{.title = config_.phoneTriggerEnabled
                                          ? L("手机遥控:开 — 二维码…", "Phone remote: On — QR…")
                                          : L("手机遥控…", "Phone remote…"),
                             .action = forward(services_.showPhoneTriggerWindow)});
    items.push_back(MenuItem::separator());
    items.push_back(
        MenuItem{.title = L("设置…", "Settings…"),
                 .keyEquivalent = ",",
                 .action = [settings = services_.settings] { settings->showSettings(); }});
    items.push_back(MenuItem{.title = L("检查更新…", "Check for Updates…"),
                             .action = forward(services_.checkForUpdatesMenu)});
    items.push_back(MenuItem::separator());
    items.push_back(MenuItem{.title = L("退出 Vurin", "Quit Vurin"),
                             .keyEquivalent = "q",
                             .action = action(&AppController::quit)});
    return menu;
}

void AppController::rebuildMenu() {
    if (statusItem_) {
        statusItem_->setMenu(buildStatusMenu());
    }
}

void AppController::installMainMenu() {
    MenuModel appMenu;
    appMenu.items.push_back(MenuItem{.title = L("退出 Vurin", "Quit Vurin"),
                                     .keyEquivalent = "q",
                                     .standardAction = "terminate"});
    MenuModel editMenu;
    editMenu.title = L("编辑", "Edit");
    auto edit = [](std::string title, std::string key, std::string action, bool shift = false) {
        return MenuItem{.title = std::move(title),
                        .keyEquivalent = std::move(key),
                        .shiftModifier = shift,
                        .standardAction = std::move(action)};
    };
    editMenu.items = {edit(L("撤销", "Undo"), "z", "undo"),
                      edit(L("重做", "Redo"), "z", "redo", true),
                      MenuItem::separator(),
                      edit(L("剪切", "Cut"), "x", "cut"),
                      edit(L("复制", "Copy"), "c", "copy"),
                      edit(L("粘贴", "Paste"), "v", "paste"),
                      edit(L("全选", "Select All"), "a", "selectAll")};
    services_.shell->setMainMenu({std::move(appMenu), std::move(editMenu)});
}

}  // namespace vurin

#include "app/app_controller.h"
#include "providers/provider_runtime_status.h"
#include "support/language.h"
#include "support/log.h"

namespace vurin {

namespace {

std::string toolTipText(AppState state, std::optional<StatusIcon> inputProblem) {
    switch (state) {
        case AppState::recording:
            return L("录音中…", "Recording…");
        case AppState::transcribing:
            return L("转写中…", "Transcribing…");
        case AppState::pendingSend:
            return L("待发送(单击发送)", "Ready to send (click to send)");
        case AppState::idle:
            break;
    }
    if (inputProblem == StatusIcon::disabled) {
        return L("等待授权", "Waiting for permissions");
    }
    if (inputProblem == StatusIcon::error) {
        return L("触发键不可用", "Trigger key unavailable");
    }
    return L("就绪", "Ready");
}

StatusIcon iconFor(AppState state, std::optional<StatusIcon> inputProblem) {
    switch (state) {
        case AppState::recording:
            return StatusIcon::recording;
        case AppState::transcribing:
            return StatusIcon::transcribing;
        case AppState::pendingSend:
            return StatusIcon::pendingSend;
        case AppState::idle:
            break;
    }
    return inputProblem.value_or(StatusIcon::idle);
}

MenuItem infoLine(std::string title) {
    return MenuItem{.title = std::move(title), .enabled = false};
}

Control buttonFor(const MenuItem& item) {
    return makeButton(item.title, item.action);
}

}  // namespace

const char* statusIconName(StatusIcon icon) {
    switch (icon) {
        case StatusIcon::recording:
            return "recording";
        case StatusIcon::transcribing:
            return "transcribing";
        case StatusIcon::pendingSend:
            return "pending";
        case StatusIcon::detectingKey:
            return "detecting";
        case StatusIcon::disabled:
            return "disabled";
        case StatusIcon::error:
            return "error";
        case StatusIcon::idle:
            break;
    }
    return "idle";
}

bool AppController::trayShown() const {
    return statusItem_ && statusItem_->shownByDesktop();
}

void AppController::updateStatusIcon() {
    if (statusItem_) {
        statusItem_->setIcon(iconFor(appState_, inputProblem_));
        statusItem_->setToolTip("Vurin — " + toolTipText(appState_, inputProblem_));
    }
    refreshStatusPanel();
}

void AppController::showDetectingKey() {
    if (statusItem_) {
        statusItem_->setIcon(StatusIcon::detectingKey);
    }
}

void AppController::setInputProblem(std::optional<StatusIcon> problem) {
    if (inputProblem_ != problem) {
        inputProblem_ = problem;
        updateStatusIcon();
    }
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

AppController::StatusMenuItems AppController::statusMenuItems() {
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

    StatusMenuItems items;
    items.info = {statusLine(), status.menuLine()};
    if (status.needsCloudKey) {
        items.info.push_back(L("云端 Key 未设置", "Cloud key missing") + ": " +
                             status.cloudProviderName);
    }
    items.stt = MenuItem{.title = config_.sttProvider == "local"
                                      ? L("语音识别 → 切云端", "Speech → switch to Cloud")
                                      : L("语音识别 → 切本地", "Speech → switch to Local"),
                         .action = action(&AppController::quickToggleSTT)};
    items.polish = MenuItem{.title = config_.polishProvider == "local"
                                         ? L("文本润色 → 切云端", "Polish → switch to Cloud")
                                         : L("文本润色 → 切本地", "Polish → switch to Local"),
                            .action = action(&AppController::quickTogglePolish)};
    items.phone = MenuItem{.title = config_.phoneTriggerEnabled
                                        ? L("手机遥控:开 — 二维码…", "Phone remote: On — QR…")
                                        : L("手机遥控…", "Phone remote…"),
                           .action = forward(services_.showPhoneTriggerWindow)};
    items.settings =
        MenuItem{.title = L("设置…", "Settings…"),
                 .keyEquivalent = ",",
                 .action = [settings = services_.settings] { settings->showSettings(); }};
    items.updates = MenuItem{.title = L("检查更新…", "Check for Updates…"),
                             .action = forward(services_.checkForUpdatesMenu)};
    items.quit = MenuItem{.title = L("退出 Vurin", "Quit Vurin"),
                          .keyEquivalent = "q",
                          .action = action(&AppController::quit)};
    return items;
}

MenuModel AppController::buildStatusMenu() {
    StatusMenuItems parts = statusMenuItems();
    MenuModel menu;
    auto& items = menu.items;
    items.push_back(infoLine(parts.info.front()));
    for (std::size_t i = 1; i < parts.info.size(); ++i) {
        items.push_back(infoLine("  " + parts.info[i]));
    }
    items.push_back(MenuItem::separator());
    items.push_back(std::move(parts.stt));
    items.push_back(std::move(parts.polish));
    items.push_back(MenuItem::separator());
    items.push_back(std::move(parts.phone));
    items.push_back(MenuItem::separator());
    items.push_back(std::move(parts.settings));
    items.push_back(std::move(parts.updates));
    items.push_back(MenuItem::separator());
    items.push_back(std::move(parts.quit));
    return menu;
}

// The menu's lines and actions as the top of the settings window, which is itself the menu's
// "Settings…"; the status line follows the state at once.
Card AppController::buildStatusPanel() {
    StatusMenuItems parts = statusMenuItems();
    Card card{.title = parts.info.front(), .spacing = 8};
    for (std::size_t i = 1; i < parts.info.size(); ++i) {
        card.blocks.push_back(NoteBlock{.text = parts.info[i]});
    }
    card.blocks.push_back(
        ControlRowBlock{.controls = {buttonFor(parts.stt), buttonFor(parts.polish)}});
    card.blocks.push_back(
        ControlRowBlock{.controls = {buttonFor(parts.phone), buttonFor(parts.updates),
                                     Control{{}, FlexibleSpace{}}, buttonFor(parts.quit)}});
    return card;
}

void AppController::refreshStatusPanel() {
    if (services_.settings && statusItem_) {
        services_.settings->setStatusPanel(trayShown() ? std::nullopt
                                                       : std::optional(buildStatusPanel()));
    }
}

void AppController::rebuildMenu() {
    if (statusItem_) {
        statusItem_->setMenu(buildStatusMenu());
    }
    refreshStatusPanel();
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

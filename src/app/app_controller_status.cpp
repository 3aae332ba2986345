#include "app/app_controller.h"
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

}  // namespace

void AppController::updateStatusIcon() {
    if (!statusItem_) {
        return;
    }
    const StatusTexts texts = statusTexts(appState_);
    statusItem_->setTitle(texts.title);
    statusItem_->setToolTip("Vurin — " + L(texts.toolTipZh, texts.toolTipEn));
}

void AppController::rebuildMenu() {
    if (!statusItem_) {
        return;
    }
    std::string status;
    switch (appState_) {
        case AppState::idle: {
            const std::string key = services_.triggerKeyDisplayName(config_.keyCode);
            status = L("状态:就绪(" + key + ")", "Status: Ready (" + key + ")");
            break;
        }
        case AppState::recording:
            status = L("状态:录音中…", "Status: Recording…");
            break;
        case AppState::transcribing:
            status = L("状态:转写润色中…", "Status: Transcribing…");
            break;
        case AppState::pendingSend:
            status = L("状态:待发送", "Status: Ready to send");
            break;
    }
    MenuModel menu;
    menu.items.push_back(MenuItem{.title = status, .enabled = false});
    menu.items.push_back(MenuItem{
        .title = "  " + services_.backendMenuLine(config_, services_.localServer->isReady(),
                                                  services_.ollamaServer->isReady()),
        .enabled = false});
    menu.items.push_back(MenuItem::separator());
    menu.items.push_back(MenuItem{.title = L("退出 Vurin", "Quit Vurin"),
                                  .keyEquivalent = "q",
                                  .action = [weak = weakSelf()] {
                                      if (auto self = weak.lock()) {
                                          self->quit();
                                      }
                                  }});
    statusItem_->setMenu(std::move(menu));
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

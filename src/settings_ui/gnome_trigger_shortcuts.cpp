#include "settings_ui/gnome_trigger_shortcuts.h"

#include <utility>

#include "support/language.h"
#include "support/log.h"
#include "support/text.h"

namespace vurin {

namespace {

constexpr TriggerCommand kCommands[] = {TriggerCommand::toggle, TriggerCommand::send,
                                        TriggerCommand::cancel};

const char* commandWord(TriggerCommand command) {
    switch (command) {
        case TriggerCommand::send:
            return "send";
        case TriggerCommand::cancel:
            return "cancel";
        case TriggerCommand::toggle:
            break;
    }
    return "toggle";
}

}  // namespace

GnomeTriggerShortcuts::GnomeTriggerShortcuts(std::shared_ptr<CustomShortcuts> store,
                                             std::string program)
    : store_(std::move(store)), program_(std::move(program)) {}

std::string GnomeTriggerShortcuts::idFor(TriggerCommand command) {
    return std::string("vurin-") + commandWord(command);
}

std::string GnomeTriggerShortcuts::bindingFor(TriggerCommand command, const std::string& keyName) {
    switch (command) {
        case TriggerCommand::send:
            return "<Shift>" + keyName;
        case TriggerCommand::cancel:
            return "<Control>" + keyName;
        case TriggerCommand::toggle:
            break;
    }
    return keyName;
}

CustomShortcut GnomeTriggerShortcuts::entryFor(TriggerCommand command,
                                               const std::string& keyName) const {
    std::string name;
    switch (command) {
        case TriggerCommand::toggle:
            name = L("Vurin:开始/结束听写", "Vurin: start or end dictation");
            break;
        case TriggerCommand::send:
            name = L("Vurin:发送(回车)", "Vurin: send (Return)");
            break;
        case TriggerCommand::cancel:
            name = L("Vurin:取消/撤回", "Vurin: cancel or take back");
            break;
    }
    return {.id = idFor(command),
            .name = std::move(name),
            .command = shellWord(program_) + " --trigger " + commandWord(command),
            .binding = bindingFor(command, keyName)};
}

std::vector<GnomeTriggerShortcuts::Entry> GnomeTriggerShortcuts::read() const {
    const std::vector<CustomShortcut> listed = store_->list();
    std::vector<Entry> entries;
    for (const TriggerCommand command : kCommands) {
        Entry entry{.command = command, .id = idFor(command)};
        for (const CustomShortcut& shortcut : listed) {
            if (shortcut.id == entry.id) {
                entry.set = shortcut;
            }
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool GnomeTriggerShortcuts::toggleSet() const {
    return read().front().set.has_value();
}

bool GnomeTriggerShortcuts::add(const std::string& keyName, bool withSend, bool withCancel) {
    bool kept = store_->put(entryFor(TriggerCommand::toggle, keyName));
    const std::pair<TriggerCommand, bool> optional[] = {{TriggerCommand::send, withSend},
                                                        {TriggerCommand::cancel, withCancel}};
    for (const auto& [command, wanted] : optional) {
        kept =
            (wanted ? store_->put(entryFor(command, keyName)) : store_->remove(idFor(command))) &&
            kept;
    }
    if (kept) {
        log("⌨️ 已添加 GNOME 快捷键:" + bindingFor(TriggerCommand::toggle, keyName) +
            " → vurin --trigger toggle" +
            (withSend ? ",发送 " + bindingFor(TriggerCommand::send, keyName) : "") +
            (withCancel ? ",取消 " + bindingFor(TriggerCommand::cancel, keyName) : ""));
    }
    return kept;
}

bool GnomeTriggerShortcuts::remove() {
    bool removed = true;
    for (const TriggerCommand command : kCommands) {
        removed = store_->remove(idFor(command)) && removed;
    }
    if (removed) {
        log("⌨️ 已移除 Vurin 的 GNOME 快捷键");
    }
    return removed;
}

}  // namespace vurin

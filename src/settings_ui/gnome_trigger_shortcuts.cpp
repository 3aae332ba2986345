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

GnomeTriggerShortcuts::Keys GnomeTriggerShortcuts::keysFor(
    int evdevCode, const std::function<std::optional<std::string>(int evdevCode)>& keyName) {
    const auto named = [&](int code, const char* otherwise) {
        auto name = keyName ? keyName(code) : std::nullopt;
        return name ? *name : std::string(otherwise);
    };
    // F13 to F22 (evdev 183 to 192) have two more function keys after them, up to F24.
    constexpr int kF13 = 183, kF22 = 192;
    if (evdevCode >= kF13 && evdevCode <= kF22) {
        return {named(evdevCode, "F13"), named(evdevCode + 1, "Pause"),
                named(evdevCode + 2, "Scroll_Lock")};
    }
    return {named(evdevCode, "F13"), "Pause", "Scroll_Lock"};
}

std::string GnomeTriggerShortcuts::bindingFor(TriggerCommand command, const Keys& keys) {
    switch (command) {
        case TriggerCommand::send:
            return keys.send;
        case TriggerCommand::cancel:
            return keys.cancel;
        case TriggerCommand::toggle:
            break;
    }
    return keys.toggle;
}

CustomShortcut GnomeTriggerShortcuts::entryFor(TriggerCommand command, const Keys& keys) const {
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
            .binding = bindingFor(command, keys)};
}

// GNOME grabs its own keys first: a custom shortcut on one of them never runs.
bool GnomeTriggerShortcuts::put(TriggerCommand command, const Keys& keys) {
    const std::string binding = bindingFor(command, keys);
    for (const std::string& setting : store_->builtInUses(binding)) {
        if (store_->releaseBuiltIn(setting, binding)) {
            log("⌨️ GNOME 自带的快捷键「" + setting + "」占用了 " + binding +
                ",已让出给 Vurin(下次登录后生效)");
        }
    }
    return store_->put(entryFor(command, keys));
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

bool GnomeTriggerShortcuts::add(const Keys& keys, bool withSend, bool withCancel) {
    bool kept = put(TriggerCommand::toggle, keys);
    const std::pair<TriggerCommand, bool> optional[] = {{TriggerCommand::send, withSend},
                                                        {TriggerCommand::cancel, withCancel}};
    for (const auto& [command, wanted] : optional) {
        kept = (wanted ? put(command, keys) : store_->remove(idFor(command))) && kept;
    }
    if (kept) {
        log("⌨️ 已添加 GNOME 快捷键:" + keys.toggle + " → vurin --trigger toggle" +
            (withSend ? ",发送 " + keys.send : "") + (withCancel ? ",取消 " + keys.cancel : ""));
    }
    return kept;
}

bool GnomeTriggerShortcuts::remove() {
    bool removed = true;
    for (const Entry& entry : read()) {
        if (!entry.set) {
            continue;
        }
        removed = store_->remove(entry.id) && removed;
        for (const std::string& setting : store_->releasedBuiltIns(entry.set->binding)) {
            store_->restoreBuiltIn(setting);
        }
    }
    if (removed) {
        log("⌨️ 已移除 Vurin 的 GNOME 快捷键");
    }
    return removed;
}

std::vector<std::string> GnomeTriggerShortcuts::releasedFromGnome(const Keys& keys) const {
    std::vector<std::string> released;
    for (const Entry& entry : read()) {
        if (entry.set) {
            for (std::string& setting : store_->releasedBuiltIns(bindingFor(entry.command, keys))) {
                released.push_back(std::move(setting));
            }
        }
    }
    return released;
}

}  // namespace vurin

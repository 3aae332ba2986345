// The trigger card's GNOME rows: where the desktop's shortcuts run a command only on the press,
// Vurin adds its own custom shortcut (toggle), and optionally send and cancel, as GNOME's keyboard
// settings would, and shows what is bound.
#include "settings_ui/settings_controller.h"
#include "settings_ui/settings_window_model.h"
#include "support/language.h"

namespace vurin {

using namespace settings_model;

namespace {

GnomeTriggerShortcuts::Keys keysOf(const SettingsServices& services) {
    return services.gnomeKeys ? services.gnomeKeys() : GnomeTriggerShortcuts::Keys{};
}

const GnomeTriggerShortcuts::Entry& entryOf(const std::vector<GnomeTriggerShortcuts::Entry>& all,
                                            TriggerCommand command) {
    return all.at(static_cast<std::size_t>(command));
}

}  // namespace

void SettingsController::appendGnomeShortcuts(std::vector<CardBlock>& blocks) {
    const GnomeTriggerShortcuts::Keys keys = keysOf(services_);
    const std::vector<GnomeTriggerShortcuts::Entry> entries = services_.gnomeShortcuts->read();
    const auto& toggle = entryOf(entries, TriggerCommand::toggle);
    std::string bound;
    for (const auto& entry : entries) {
        if (entry.set) {
            bound +=
                (bound.empty() ? "" : L(";", "; ")) + entry.set->binding + " → " + entry.set->name;
        }
    }
    blocks.push_back(
        note(L("GNOME 的自定义快捷键只在按下时运行命令,没有松开:这里用按一下开始、"
               "再按一下结束。",
               "GNOME's custom shortcuts run their command on the press only, "
               "with no release: here you press once to start and once to end.")));
    blocks.push_back(row(
        L("GNOME 快捷键", "GNOME shortcut"), toggle.set ? bound : L("还没有添加", "Not added yet"),
        {toggle.set ? makeButton(L("移除", "Remove"),
                                 weakAction(&SettingsController::removeGnomeShortcuts))
                    : makeButton(L("添加 " + keys.toggle, "Add " + keys.toggle),
                                 weakAction(&SettingsController::addGnomeShortcuts))}));
    const auto optional = [&](TriggerCommand command, std::string title,
                              void (SettingsController::*changed)(bool)) {
        Control toggleSwitch =
            makeSwitch(entryOf(entries, command).set.has_value(), weakAction(changed));
        std::get<Switch>(toggleSwitch.kind).enabled = toggle.set.has_value();
        blocks.push_back(row(std::move(title), GnomeTriggerShortcuts::bindingFor(command, keys),
                             {std::move(toggleSwitch)}));
    };
    optional(TriggerCommand::send, L("发送快捷键", "Send shortcut"),
             &SettingsController::gnomeSendShortcutChanged);
    optional(TriggerCommand::cancel, L("取消快捷键", "Cancel shortcut"),
             &SettingsController::gnomeCancelShortcutChanged);
    if (!services_.gnomeShortcuts->releasedFromGnome(keys).empty()) {
        blocks.push_back(
            note(L("GNOME 自带的快捷键原先占用了这个键,已经让出;GNOME 在下次登录时才放开它,"
                   "在那之前快捷键可能不起作用。",
                   "One of GNOME's own shortcuts held this key and has let it go; "
                   "GNOME releases it at your next login, and until then the "
                   "shortcut may not work."),
                 ColourRole::orange));
    }
}

void SettingsController::addGnomeShortcuts() {
    services_.gnomeShortcuts->add(keysOf(services_), false, false);
    rebuildSettingsPane(SettingsTab::general);
}

void SettingsController::removeGnomeShortcuts() {
    services_.gnomeShortcuts->remove();
    rebuildSettingsPane(SettingsTab::general);
}

void SettingsController::gnomeSendShortcutChanged(bool on) {
    const auto entries = services_.gnomeShortcuts->read();
    services_.gnomeShortcuts->add(keysOf(services_), on,
                                  entryOf(entries, TriggerCommand::cancel).set.has_value());
    rebuildSettingsPane(SettingsTab::general);
}

void SettingsController::gnomeCancelShortcutChanged(bool on) {
    const auto entries = services_.gnomeShortcuts->read();
    services_.gnomeShortcuts->add(keysOf(services_),
                                  entryOf(entries, TriggerCommand::send).set.has_value(), on);
    rebuildSettingsPane(SettingsTab::general);
}

}  // namespace vurin

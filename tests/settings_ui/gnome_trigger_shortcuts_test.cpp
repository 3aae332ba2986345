#include "settings_ui/gnome_trigger_shortcuts.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/fake_desktop.h"
#include "support/log.h"

namespace vurin::testing {
namespace {

// Vurin's entries among GNOME's custom shortcuts: what each script leaves in the desktop's list
// (id=binding:command, in order), in GNOME's own Tools-key setting, and in the log.
TEST(GnomeTriggerShortcutsTest, OnlyVurinsOwnEntriesComeAndGoAndGnomesOwnKeyIsLentAndGivenBack) {
    const auto f13 =
        GnomeTriggerShortcuts::keysFor(183, [](int code) -> std::optional<std::string> {
            const std::map<int, std::string> names = {
                {183, "XF86Tools"}, {184, "XF86Launch5"}, {185, "XF86Launch6"}};
            return names.contains(code) ? std::optional(names.at(code)) : std::nullopt;
        });
    const std::string added =
        "⌨️ 已添加 GNOME 快捷键:XF86Tools → vurin --trigger toggle";
    const std::string lent =
        "⌨️ GNOME 自带的快捷键「control-center-static」占用了 XF86Tools," +
        std::string("已让出给 Vurin(下次登录后生效)");
    const std::string other = "custom0=<Control><Alt>t:gnome-terminal";
    struct Row {
        const char* script;
        std::string entries, tools, log;
    };
    const std::vector<Row> rows = {
        {"add", "vurin-toggle=XF86Tools:vurin --trigger toggle", "", lent + " | " + added},
        {"add addBoth",
         "vurin-toggle=XF86Tools:vurin --trigger toggle, vurin-send=XF86Launch5:vurin --trigger "
         "send, vurin-cancel=XF86Launch6:vurin --trigger cancel",
         "", lent + " | " + added + " | " + added + ",发送 XF86Launch5,取消 XF86Launch6"},
        {"addBoth add", "vurin-toggle=XF86Tools:vurin --trigger toggle", "",
         lent + " | " + added + ",发送 XF86Launch5,取消 XF86Launch6 | " + added},
        // Another program's shortcut is never touched; GNOME gets its key back on removal.
        {"other add remove", other, "XF86Tools",
         lent + " | " + added + " | ⌨️ 已移除 Vurin 的 GNOME 快捷键"},
        {"spaced add", "vurin-toggle=XF86Tools:'/opt/my apps/vurin' --trigger toggle", "",
         lent + " | " + added},
        {"readonly add", "vurin-toggle=XF86Tools:vurin --trigger toggle", "", lent},
    };
    for (const auto& [script, entries, tools, log] : rows) {
        SCOPED_TRACE(script);
        auto store = std::make_shared<FakeCustomShortcuts>();
        store->builtIn =
            store->defaults = {{"control-center-static", {"XF86Tools"}}, {"search", {"<Super>s"}}};
        std::string program = "vurin", logged;
        setLogObserver(
            [&](const std::string& line) { logged += (logged.empty() ? "" : " | ") + line; });
        std::unique_ptr<GnomeTriggerShortcuts> shortcuts;
        std::istringstream steps(script);
        for (std::string step; steps >> step;) {
            const auto made = [&] {
                if (!shortcuts) {
                    shortcuts = std::make_unique<GnomeTriggerShortcuts>(store, program);
                }
                return shortcuts.get();
            };
            if (step == "other") {
                store->entries.push_back(
                    {.id = "custom0", .command = "gnome-terminal", .binding = "<Control><Alt>t"});
            } else if (step == "spaced") {
                program = "/opt/my apps/vurin";
            } else if (step == "readonly") {
                store->writable = false;
            } else if (step == "add" || step == "addBoth") {
                made()->add(f13, step == "addBoth", step == "addBoth");
            } else {
                made()->remove();
            }
        }
        setLogObserver(nullptr);
        std::string listed;
        for (const CustomShortcut& entry : store->entries) {
            listed +=
                (listed.empty() ? "" : ", ") + entry.id + "=" + entry.binding + ":" + entry.command;
        }
        const auto& held = store->builtIn["control-center-static"];
        EXPECT_EQ(listed, entries);
        EXPECT_EQ(held.empty() ? "" : held.front(), tools);
        EXPECT_EQ(logged, log);
        EXPECT_EQ(store->builtIn["search"], std::vector<std::string>{"<Super>s"});
    }
    // Send and cancel take function keys of their own after F13 and the like, else Pause and
    // Scroll Lock: never a modifier that would still be held when GNOME runs the command.
    const auto altGr = GnomeTriggerShortcuts::keysFor(100, [](int) { return "ISO_Level3_Shift"; });
    EXPECT_EQ(altGr.send + " " + altGr.cancel, "Pause Scroll_Lock");
}

}  // namespace
}  // namespace vurin::testing

#include <gtest/gtest.h>

#include "support/app_controller_fixture.h"

namespace vurin::testing {
namespace {

using Lines = std::vector<std::string>;

const std::string kOpened =
    "⚠️ 桌面没有系统托盘:状态和菜单在设置窗口的顶部,已打开设置窗口";
const std::string kBackground =
    "🪟 桌面没有系统托盘:Vurin 在后台运行,不打开窗口;再次启动 "
    "Vurin(应用菜单里的 "
    "Vurin,或 "
    "vurin 命令)即可打开它的窗口";

// How a start goes without a tray: what the window did, whether the desktop was asked to let
// Vurin run in the background, which launch was declared over without a window, and the log.
struct NoTrayStart {
    const char* name;
    StartContext start;
    Lines window;
    bool asksBackground;
    Lines completed;
    std::string logged;
};

class StartWithoutTray : public AppControllerFixture,
                         public ::testing::WithParamInterface<NoTrayStart> {
  protected:
    StartWithoutTray() {
        adjustServices = [this](AppServices& services) {
            services.start = GetParam().start;
            services.requestBackground = [this](const std::string& reason, auto done) {
                reasons.push_back(reason);
                answer = done;
            };
            services.completeStartup = [this](const std::string& token) {
                completed.push_back(token);
            };
        };
    }
    void SetUp() override {
        AppControllerFixture::SetUp();
        shell->statusItem->shown = false;
    }
    Lines reasons, completed;
    std::function<void(BackgroundAnswer, const std::string&)> answer;
};

// A start the user made opens the window, forward only with the desktop's token (else it would
// take the focus from wherever the user is); so does the very first, at login too. A later start
// at login stays in the background, asks the desktop for leave and says how to reach it.
TEST_P(StartWithoutTray, OpensTheWindowOnlyWhenTheUserAskedOrMeetsVurinFirst) {
    const NoTrayStart& row = GetParam();
    launch();
    EXPECT_EQ(settings->calls, row.window);
    EXPECT_EQ(reasons.size(), row.asksBackground ? 1U : 0U);
    EXPECT_EQ(completed, row.completed);
    ASSERT_FALSE(logs.empty());
    EXPECT_EQ(logs.front(), row.logged);
    EXPECT_EQ(std::filesystem::exists(configURL()), row.start.firstStart);
    if (!row.asksBackground) {
        return;
    }
    EXPECT_EQ(reasons.front(), "Vurin 在后台等待触发键,按住说话即可输入文字");
    const std::pair<BackgroundAnswer, std::string> answers[] = {
        {BackgroundAnswer::allowed, "✅ 桌面已允许 Vurin 在后台运行"},
        {BackgroundAnswer::refused, "⚠️ 桌面没有允许 Vurin 在后台运行(code 1)"},
        {BackgroundAnswer::unavailable, "⚠️ 无法向桌面申请在后台运行(code 1)"}};
    for (const auto& [given, line] : answers) {
        answer(given, "code 1");
        EXPECT_EQ(logs.back(), line);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Starts, StartWithoutTray,
    ::testing::Values(
        NoTrayStart{"FromATerminal", {}, {"show unasked"}, false, {}, kOpened},
        NoTrayStart{"FromTheMenu", {.activationToken = "t1"}, {"show t1"}, false, {}, kOpened},
        NoTrayStart{"FirstAtLogin",
                    {.autostart = true, .firstStart = true},
                    {"show unasked"},
                    false,
                    {},
                    kOpened},
        NoTrayStart{"LaterAtLogin",
                    {.autostart = true, .activationToken = "t2"},
                    {},
                    true,
                    {"t2"},
                    kBackground}),
    [](const auto& info) { return std::string(info.param.name); });

// The window's top carries the menu: its status line follows the state, and its buttons are the
// menu's actions, Quit included. With a tray the window has none of it, from the moment a panel
// comes until it leaves.
TEST_F(AppControllerFixture, WithoutATrayTheWindowCarriesTheMenusStatusAndActions) {
    shell->statusItem->shown = false;
    launch();
    ASSERT_TRUE(settings->panel);
    EXPECT_EQ(settings->panel->title, "状态:就绪(Key 105)");
    Lines buttons;
    std::function<void()> quit;
    for (const CardBlock& block : settings->panel->blocks) {
        if (const auto* row = std::get_if<ControlRowBlock>(&block)) {
            for (const Control& control : row->controls) {
                if (const auto* button = std::get_if<Button>(&control.kind)) {
                    buttons.push_back(button->title);
                    quit = button->action;
                }
            }
        }
    }
    EXPECT_EQ(buttons, (Lines{"语音识别 → 切云端", "文本润色 → 切云端", "手机遥控…", "检查更新…",
                              "退出 Vurin"}));
    controller->setAppState(AppState::recording);
    controller->updateStatusIcon();
    EXPECT_EQ(settings->panel->title, "状态:录音中…");
    quit();
    EXPECT_EQ(shell->terminations, 1);

    shell->statusItem->shown = true;
    shell->statusItem->shownChanged();
    EXPECT_FALSE(settings->panel);
    shell->statusItem->shown = false;
    shell->statusItem->shownChanged();
    EXPECT_TRUE(settings->panel);
}

}  // namespace
}  // namespace vurin::testing

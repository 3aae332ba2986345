#include "phone/phone_remote_controller.h"

#include <gtest/gtest.h>

#include "phone/phone_remote_wiring.h"
#include "phone/phone_window_presenter.h"
#include "support/app_controller_fixture.h"
#include "support/fake_window_renderer.h"

namespace vurin {
namespace {

using Journal = std::vector<std::string>;
using Event = PhoneServer::Event;

// Records what the controller asks of the server; start completions wait for the test.
struct FakePhoneServer : PhoneServer {
    explicit FakePhoneServer(Journal& journal) : journal(journal) {}
    void start(std::string token, StartCompletion completion) override {
        journal.push_back("start " + token);
        completions.push_back(std::move(completion));
    }
    void stop() override { journal.push_back("stop"); }
    void broadcast(std::string state) override { journal.push_back("broadcast " + state); }
    std::optional<std::string> url(std::string_view token) const override {
        return address ? "http://" + *address + ":8930/?t=" + std::string(token) : address;
    }
    std::uint16_t port() const override { return 8930; }
    void setOnEvent(EventHandler fn) override {
        onEvent = [fn](Event e) { fn(e, 0); };
    }
    void completeStart(bool listening) {  // the oldest one
        std::exchange(completions, {completions.begin() + 1, completions.end()}).front()(listening);
    }

    Journal& journal;
    std::vector<StartCompletion> completions;
    std::optional<std::string> address = "192.168.1.20";
    std::function<void(Event)> onEvent;
};

class PhoneRemoteControllerTest : public ::testing::TestWithParam<std::pair<const char*, Journal>> {
  protected:
    void SetUp() override {
        applyUILang(GetParam().first);
        setLogObserver([this](const std::string& line) { journal.push_back(line); });
        const auto note = [this](const char* entry) {
            return [=, this](auto...) { journal.push_back(entry); };
        };
        // clang-format off
        controller->attach({.config = [this] { return &config; },
            .saveConfig = [this](const Config& saved) {
                journal.push_back("save " + saved.phoneToken + (saved.phoneTriggerEnabled ? " on" : " off"));
            },
            .keyDown = note("keyDown"), .keyUp = note("keyUp"), .rebuildMenu = note("rebuildMenu"),
            .activateApplication = note("activate")});
        // clang-format on
        presenter = GenericPhoneWindowPresenter::create(windows, nullptr);
        controller->setWindowPresenter(presenter);
    }
    void TearDown() override {
        setLogObserver({});
        applyUILang("auto");
    }

    std::shared_ptr<testing::VirtualMainQueue> queue =
        std::make_shared<testing::VirtualMainQueue>();
    Journal journal;
    std::shared_ptr<FakePhoneServer> server = std::make_shared<FakePhoneServer>(journal);
    std::shared_ptr<PhoneRemoteController> controller =
        PhoneRemoteController::create(queue, server);
    std::shared_ptr<testing::FakeWindowRenderer> windows =
        std::make_shared<testing::FakeWindowRenderer>();
    std::shared_ptr<GenericPhoneWindowPresenter> presenter;
    Config config;
};

// The remote's life per interface language (logs are Chinese in both) as one journal of hooks,
// server calls and log lines: the rendered window, presses, reset, off and a launch.
TEST_P(PhoneRemoteControllerTest, WindowSwitchPressesResetOffAndLaunch) {
    controller->startIfEnabled();  // off: nothing
    controller->showPhoneTriggerWindow();
    controller->showPhoneTriggerWindow();
    ASSERT_EQ(windows->opened.size(), 1U);
    const auto view = windows->last();
    EXPECT_EQ(presenter->window(), view);  // the one window is kept, not made again
    Journal shown{view->model.title};      // then the labels and buttons in order
    for (const auto& block : view->model.panes.at(0).cards.at(0).blocks) {
        for (const auto& control : std::get<ControlRowBlock>(block).controls) {
            const auto* label = std::get_if<Label>(&control.kind);
            const auto* button = std::get_if<Button>(&control.kind);
            if (label || button) {
                shown.push_back(!control.id.empty() ? view->shownText(control.id)
                                                    : (label ? label->text : button->title));
            }
        }
    }
    EXPECT_EQ(view->raises + view->centerings, 4);
    controller->phoneWindow()->onToggle(true);  // a first token comes silently
    const std::string first = config.phoneToken;
    ASSERT_TRUE(view->switches[kPhoneSwitchId] && view->images[kPhoneQRId] && first.size() == 32);
    // Scaled without smoothing inside a light quiet zone; the finder pattern starts dark inside it.
    const ImageData& qr = *view->images[kPhoneQRId];
    EXPECT_EQ((std::vector{qr.gray.front(), qr.gray[219], qr.gray.back(), qr.gray[32 * 220 + 32]}),
              (std::vector<std::uint8_t>{255, 255, 255, 0}));
    EXPECT_FALSE(qrImage("x", 0) || qrImage(std::string(8000, 'a'), 220));  // beyond any version
    // Version 1 at 250 pixels: 25 modules of 10, the finder's dark ring, light ring and centre.
    const auto code = qrImage("x", 250);
    ASSERT_TRUE(code && code->side == 250);
    EXPECT_EQ((std::vector{code->isDark(5, 5), code->isDark(25, 25), code->isDark(35, 35),
                           code->isDark(50, 50)}),
              (std::vector{false, true, false, true}));
    shown.push_back(view->shownText(kPhoneHintId));
    server->completeStart(true);
    // One down and one up per press; a release 61 s after a press, each press with its own 61 s.
    for (const Event event : {Event::down, Event::down, Event::up, Event::up}) {
        server->onEvent(event);
    }
    queue->advance(10);
    server->onEvent(Event::down);
    queue->advance(60.999);
    journal.push_back("60.999 s later");
    queue->advance(0.001);
    server->onEvent(Event::down);
    ASSERT_TRUE(view->press(shown[5]));  // reset
    server->completeStart(true);         // which only shows the new address
    const std::string second = config.phoneToken;
    EXPECT_EQ(view->shownText(kPhoneAddressId), "http://192.168.1.20:8930/?t=" + second);
    server->address.reset();
    controller->refreshPhoneWindow();
    shown.push_back(view->shownText(kPhoneAddressId));
    EXPECT_EQ(shown, GetParam().second);
    EXPECT_TRUE(!view->images[kPhoneQRId] && view->shownText(kPhoneHintId).empty());
    server->onEvent(Event::down);
    controller->phoneWindow()->onToggle(false);
    server->onEvent(Event::down);  // a request on its way when the remote went off
    controller->resetPhoneToken();
    const std::string third = config.phoneToken;
    config.phoneTriggerEnabled = true;
    config.phoneToken = "abcd1234";
    controller->startIfEnabled();
    const std::string fourth = config.phoneToken;
    server->completeStart(false);
    controller->startIfEnabled();
    controller->broadcast("recording");
    controller->forceRelease();
    controller->stop();
    view->userCloses();
    controller->refreshPhoneWindow();  // no window to update
    controller->showPhoneTriggerWindow();
    EXPECT_TRUE(view->closed && windows->opened.size() == 2);
    // clang-format off
    EXPECT_EQ(journal, (Journal{"activate", "activate", "save " + first + " on", "start " + first,
        "rebuildMenu", "📱 手机遥控已开启,同一可信 Wi-Fi 扫码即可用", "keyDown", "keyUp", "keyDown",
        "60.999 s later", "keyUp", "keyDown", "keyUp", "save " + second + " on", "stop", "start " + second,
        "📱 已重置配对,旧手机需重新扫码", "keyDown", "save " + second + " off", "keyUp", "stop",
        "📱 手机遥控已关闭", "rebuildMenu", "save " + third + " off", "📱 已重置配对,旧手机需重新扫码",
        "save " + fourth + " on", "📱 手机配对安全码已升级,请重新扫码", "start " + fourth,
        "❌ 手机遥控端口 8930 启动失败(可能被占用)", "start " + fourth, "broadcast recording", "stop",
        "activate"}));
    // clang-format on
}

// Title, heading, explanation, switch, address (off), reset, hint (off, on), address (no Wi-Fi).
// clang-format off
INSTANTIATE_TEST_SUITE_P(BothLanguages, PhoneRemoteControllerTest, ::testing::Values(
    std::pair{"zh", Journal{"手机遥控", "手机当遥控器",
        "手机浏览器扫码打开页面,一个「按住说话」按钮即可驱动 Vurin。手机和电脑要在同一可信 Wi-Fi。",
        "开启手机遥控", "已关闭", "重置配对(旧手机需重扫)", "",
        "手机打不开页面时,请确认防火墙放行了 TCP 端口 8930。", "未连到 Wi-Fi,拿不到本机地址"}},
    std::pair{"en", Journal{"Phone Remote", "Phone as remote", "Scan to open the page in your "
        "phone browser; one hold-to-talk button drives Vurin. Phone and computer must be on the "
        "same trusted Wi-Fi.", "Enable phone remote", "Off", "Reset pairing (re-scan on phone)", "",
        "If the phone can't open the page, allow TCP port 8930 through the firewall.",
        "Not on Wi-Fi — no local address"}}),
    [](const auto& info) { return std::string(info.param.first); });
// clang-format on

using PhoneRemoteWiringTest = testing::AppControllerFixture;

TEST_F(PhoneRemoteWiringTest, HooksReachTheLiveControllerAndDoNothingOnceItIsGone) {
    PhoneRemoteHooks hooks = phoneRemoteHooksFor(controller, shell);
    EXPECT_EQ(hooks.config(), &controller->config());
    hooks.keyDown(0);
    EXPECT_EQ(controller->engine()->state(), GestureEngine::PressState::pressed);
    controller.reset();
    EXPECT_EQ(hooks.config(), nullptr);
    hooks.keyUp(0);
    hooks.rebuildMenu();
}

}  // namespace
}  // namespace vurin

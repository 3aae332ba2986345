#include "phone/phone_remote_controller.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

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
    void setOnEvent(std::function<void(Event)> fn) override { onEvent = std::move(fn); }
    void completeStart(bool listening) {
        const auto completion = completions.front();
        completions.erase(completions.begin());
        completion(listening);
    }

    Journal& journal;
    std::vector<StartCompletion> completions;
    std::optional<std::string> address = "192.168.1.20";
    std::function<void(Event)> onEvent;
};

// The journal holds the hooks called, the server's calls and the log lines, in order.
class PhoneRemoteControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        applyUILang("zh");
        setLogObserver([this](const std::string& line) { journal.push_back(line); });
        const auto note = [this](const char* entry) {
            return [=, this] { journal.push_back(entry); };
        };
        controller->attach({.config = [this] { return &config; },
                            .saveConfig =
                                [this](const Config& saved) {
                                    journal.push_back("save " + saved.phoneToken +
                                                      (saved.phoneTriggerEnabled ? " on" : " off"));
                                },
                            .keyDown = note("keyDown"),
                            .keyUp = note("keyUp"),
                            .rebuildMenu = note("rebuildMenu"),
                            .activateApplication = note("activate")});
        controller->setWindowPresenter(GenericPhoneWindowPresenter::create(windows, nullptr));
    }
    void TearDown() override {
        setLogObserver({});
        applyUILang("auto");
    }
    Journal taken() { return std::exchange(journal, {}); }

    std::shared_ptr<testing::VirtualMainQueue> queue =
        std::make_shared<testing::VirtualMainQueue>();
    Journal journal;
    std::shared_ptr<FakePhoneServer> server = std::make_shared<FakePhoneServer>(journal);
    std::shared_ptr<PhoneRemoteController> controller =
        PhoneRemoteController::create(queue, server);
    std::shared_ptr<testing::FakeWindowRenderer> windows =
        std::make_shared<testing::FakeWindowRenderer>();
    Config config;
};

TEST_F(PhoneRemoteControllerTest, LaunchStartsOnlyWhenOnAndUpgradesShortTokensFirst) {
    controller->startIfEnabled();
    EXPECT_EQ(taken(), Journal{});
    config.phoneTriggerEnabled = true;
    config.phoneToken = "abcd1234";
    controller->startIfEnabled();
    std::string token = config.phoneToken;
    ASSERT_EQ(token.size(), 32U);
    server->completeStart(true);
    EXPECT_EQ(taken(), (Journal{"save " + token + " on", "📱 手机配对安全码已升级,请重新扫码",
                                "start " + token,
                                "📱 手机遥控已在后台开启(菜单「手机遥控…」可看二维码 / 关闭)"}));
    config.phoneToken = "";  // a first token comes silently
    controller->startIfEnabled();
    token = config.phoneToken;
    server->completeStart(false);
    controller->startIfEnabled();
    EXPECT_EQ(taken(), (Journal{"save " + token + " on", "start " + token,
                                "❌ 手机遥控端口 8930 启动失败(可能被占用)", "start " + token}));
}

TEST_F(PhoneRemoteControllerTest, SwitchingOnStartsOffReleasesFirstAndResetRestartsOnlyWhenOn) {
    controller->buildPhoneWindow();  // not shown: nothing to update
    controller->setPhoneTrigger(true);
    const std::string first = config.phoneToken;
    ASSERT_EQ(first.size(), 32U);
    EXPECT_TRUE(controller->phoneWindow()->switchOn);
    server->completeStart(true);
    server->onEvent(Event::down);
    controller->resetPhoneToken();
    const std::string second = config.phoneToken;
    server->onEvent(Event::down);
    controller->setPhoneTrigger(false);
    controller->resetPhoneToken();
    EXPECT_NE(config.phoneToken, second);
    EXPECT_EQ(taken(),
              (Journal{"save " + first + " on", "start " + first, "rebuildMenu",
                       "📱 手机遥控已开启,同一可信 Wi-Fi 扫码即可用", "keyDown", "keyUp",
                       "save " + second + " on", "stop", "start " + second,
                       "📱 已重置配对,旧手机需重新扫码", "keyDown", "save " + second + " off",
                       "keyUp", "stop", "📱 手机遥控已关闭", "rebuildMenu",
                       "save " + config.phoneToken + " off", "📱 已重置配对,旧手机需重新扫码"}));
}

TEST_F(PhoneRemoteControllerTest, PressesGoThroughTheGuardOnlyWhileOn) {
    config.phoneTriggerEnabled = true;
    config.phoneToken = std::string(32, 'a');
    controller->startIfEnabled();
    taken();
    for (const Event event : {Event::down, Event::down, Event::up, Event::up, Event::down}) {
        server->onEvent(event);
    }
    controller->forceRelease();
    controller->broadcast("recording");
    config.phoneTriggerEnabled = false;  // switched off while a request was on its way
    server->onEvent(Event::down);
    controller->stop();
    EXPECT_EQ(taken(),
              (Journal{"keyDown", "keyUp", "keyDown", "keyUp", "broadcast recording", "stop"}));
}

class PhoneWindowTest : public PhoneRemoteControllerTest,
                        public ::testing::WithParamInterface<std::pair<const char*, Journal>> {};

// The window as the generic renderer shows it: raised on each show, a new one after closing.
TEST_P(PhoneWindowTest, TextsAddressQRAndActions) {
    applyUILang(GetParam().first);
    controller->showPhoneTriggerWindow();
    controller->showPhoneTriggerWindow();
    ASSERT_EQ(windows->opened.size(), 1U);
    const auto view = windows->last();
    Journal shown{view->model.title};  // then the labels and buttons in order
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
    controller->phoneWindow()->onToggle(true);
    EXPECT_TRUE(config.phoneTriggerEnabled && view->switches[kPhoneSwitchId] &&
                view->images[kPhoneQRId]);
    shown.push_back(view->shownText(kPhoneHintId));
    const std::string before = config.phoneToken;
    ASSERT_TRUE(view->press(shown[5]));
    EXPECT_NE(config.phoneToken, before);
    EXPECT_EQ(view->shownText(kPhoneAddressId), "http://192.168.1.20:8930/?t=" + config.phoneToken);
    server->address.reset();
    controller->refreshPhoneWindow();
    shown.push_back(view->shownText(kPhoneAddressId));
    EXPECT_EQ(shown, GetParam().second);
    EXPECT_TRUE(!view->images[kPhoneQRId] && view->shownText(kPhoneHintId).empty());
    view->userCloses();
    controller->showPhoneTriggerWindow();
    EXPECT_TRUE(view->closed && windows->opened.size() == 2);
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "activate"), 3);
}

// Title, heading, explanation, switch, address when off, reset button, hint when off and on,
// address without Wi-Fi.
INSTANTIATE_TEST_SUITE_P(
    BothLanguages, PhoneWindowTest,
    ::testing::Values(
        std::pair{"zh",
                  Journal{"手机遥控", "手机当遥控器",
                          "手机浏览器扫码打开页面,一个「按住说话」按钮即可驱动 Vurin。手机和电脑要"
                          "在同一可信 Wi-Fi。",
                          "开启手机遥控", "已关闭", "重置配对(旧手机需重扫)", "",
                          "手机打不开页面时,请确认防火墙放行了 TCP 端口 8930。",
                          "未连到 Wi-Fi,拿不到本机地址"}},
        std::pair{"en",
                  Journal{"Phone Remote", "Phone as remote",
                          "Scan to open the page in your phone browser; one hold-to-talk button "
                          "drives Vurin. Phone and computer must be on the same trusted Wi-Fi.",
                          "Enable phone remote", "Off", "Reset pairing (re-scan on phone)", "",
                          "If the phone can't open the page, allow TCP port 8930 through the "
                          "firewall.",
                          "Not on Wi-Fi — no local address"}}),
    [](const auto& info) { return std::string(info.param.first); });

TEST(PhoneQRTest, ScaledWithoutSmoothingAndFramedByLightModules) {
    const auto image = qrImage("http://192.168.1.20:8930/?t=00112233445566778899aabbccddeeff", 220);
    ASSERT_TRUE(image && image->pixels.size() == 220U * 220U);
    // Quiet zone: the border is light; the top-left finder pattern starts dark just inside it.
    for (int i = 0; i < 220; ++i) {
        EXPECT_FALSE(image->isDark(i, 0) || image->isDark(0, i) || image->isDark(219, i) ||
                     image->isDark(i, 219))
            << i;
    }
    EXPECT_TRUE(image->isDark(32, 32));
    EXPECT_FALSE(qrImage("x", 0) || qrImage(std::string(8000, 'a'), 220));  // beyond any version
}

// A press is released after 61 s at the latest; a new press gets its own full 61 s.
TEST(RemoteButtonGuardTest, OneDownAndOneUpPerPressAndAReleaseAfterSixtyOneSeconds) {
    auto queue = std::make_shared<testing::VirtualMainQueue>();
    auto guard = RemoteButtonGuard::create(queue);
    Journal calls;
    guard->onDown = [&] { calls.push_back("down@" + std::to_string(int(queue->now()))); };
    guard->onUp = [&] { calls.push_back("up@" + std::to_string(int(queue->now()))); };
    const std::map<char, std::function<void()>> steps = {
        {'p', [&] { guard->press(); }},
        {'r', [&] { guard->release(); }},
        {'f', [&] { guard->forceRelease(); }},
        {'?', [&] { EXPECT_TRUE(guard->isPressed()) << queue->now(); }}};
    // At each second: p press, r release, f forced release, ? still pressed.
    std::istringstream script(
        "0r 0f 0p 0p 0r 0r 1p 61.999? 63r 70p 80r 100p 160.5? 170p 175f 300p");
    double at = 0;
    for (char step = 0; script >> at >> step;) {
        queue->advance(at - queue->now());
        steps.at(step)();
    }
    guard.reset();  // the automatic release of a destroyed guard does nothing
    queue->advance(61);
    EXPECT_EQ(calls, (Journal{"down@0", "up@0", "down@1", "up@62", "down@70", "up@80", "down@100",
                              "up@161", "down@170", "up@175", "down@300"}));
}

using PhoneRemoteWiringTest = testing::AppControllerFixture;

TEST_F(PhoneRemoteWiringTest, HooksReachTheLiveControllerAndDoNothingOnceItIsGone) {
    PhoneRemoteHooks hooks = phoneRemoteHooksFor(controller, shell);
    EXPECT_EQ(hooks.config(), &controller->config());
    hooks.keyDown();
    EXPECT_EQ(controller->engine()->state(), GestureEngine::PressState::pressed);
    controller.reset();
    EXPECT_EQ(hooks.config(), nullptr);
    hooks.keyUp();
    hooks.rebuildMenu();
}

}  // namespace
}  // namespace vurin

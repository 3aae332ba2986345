#include "phone/phone_remote_controller.h"

#include <gtest/gtest.h>

#include "phone/phone_remote_wiring.h"
#include "phone/phone_window_presenter.h"
#include "support/app_controller_fixture.h"
#include "support/fake_window_renderer.h"
#include "support/testing.h"

namespace vurin {
namespace {

using Journal = std::vector<std::string>;
using Event = PhoneServer::Event;

// Records what the controller asks of the server; start completions wait for the test.
class FakePhoneServer : public PhoneServer {
  public:
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

class PhoneRemoteControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        applyUILang("zh");
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
    }
    void TearDown() override { applyUILang("auto"); }
    Journal taken() { return std::exchange(journal, {}); }

    std::shared_ptr<testing::VirtualMainQueue> queue =
        std::make_shared<testing::VirtualMainQueue>();
    Journal journal;
    std::shared_ptr<FakePhoneServer> server = std::make_shared<FakePhoneServer>(journal);
    std::shared_ptr<PhoneRemoteController> controller =
        PhoneRemoteController::create(queue, server);
    Config config;
    testing::LogCapture logs;
};

TEST_F(PhoneRemoteControllerTest, LaunchStartsOnlyWhenOnAndUpgradesShortTokensFirst) {
    controller->startIfEnabled();
    EXPECT_EQ(taken(), Journal{});
    config.phoneTriggerEnabled = true;
    config.phoneToken = "abcd1234";
    controller->startIfEnabled();
    const std::string token = config.phoneToken;
    ASSERT_EQ(token.size(), 32U);
    EXPECT_EQ(taken(), (Journal{"save " + token + " on", "start " + token}));
    server->completeStart(true);
    EXPECT_EQ(logs.lines(),
              (Journal{"📱 手机配对安全码已升级,请重新扫码",
                       "📱 手机遥控已在后台开启(菜单「手机遥控…」可看二维码 / 关闭)"}));
    logs.clear();
    config.phoneToken = "";  // a first token comes silently
    controller->startIfEnabled();
    EXPECT_EQ(taken(),
              (Journal{"save " + config.phoneToken + " on", "start " + config.phoneToken}));
    server->completeStart(false);
    EXPECT_EQ(logs.lines(), Journal{"❌ 手机遥控端口 8930 启动失败(可能被占用)"});
    controller->startIfEnabled();
    EXPECT_EQ(taken(), Journal{"start " + config.phoneToken});
}

TEST_F(PhoneRemoteControllerTest, SwitchingOnStartsOffReleasesFirstAndResetRestartsOnlyWhenOn) {
    controller->buildPhoneWindow();
    controller->setPhoneTrigger(true);
    const std::string first = config.phoneToken;
    ASSERT_EQ(first.size(), 32U);
    EXPECT_EQ(taken(), (Journal{"save " + first + " on", "start " + first, "rebuildMenu"}));
    EXPECT_TRUE(controller->phoneWindow()->switchOn);
    server->completeStart(true);
    server->onEvent(Event::down);
    controller->resetPhoneToken();
    const std::string second = config.phoneToken;
    EXPECT_EQ(taken(),
              (Journal{"keyDown", "keyUp", "save " + second + " on", "stop", "start " + second}));
    server->onEvent(Event::down);
    controller->setPhoneTrigger(false);
    EXPECT_EQ(taken(),
              (Journal{"keyDown", "save " + second + " off", "keyUp", "stop", "rebuildMenu"}));
    controller->resetPhoneToken();
    EXPECT_NE(config.phoneToken, second);
    EXPECT_EQ(taken(), Journal{"save " + config.phoneToken + " off"});
    EXPECT_EQ(logs.lines(), (Journal{"📱 手机遥控已开启,同一可信 Wi-Fi 扫码即可用",
                                     "📱 已重置配对,旧手机需重新扫码", "📱 手机遥控已关闭",
                                     "📱 已重置配对,旧手机需重新扫码"}));
}

TEST_F(PhoneRemoteControllerTest, PressesGoThroughTheGuardOnlyWhileOn) {
    controller->setPhoneTrigger(true);
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

struct WindowTexts {
    const char* lang;
    Journal shown;  // title, heading, explanation, switch, reset button, address when off
    std::string noAddress, hint;
};

class PhoneWindowTest : public PhoneRemoteControllerTest,
                        public ::testing::WithParamInterface<WindowTexts> {};

TEST_P(PhoneWindowTest, TextsAddressQRAndActions) {
    applyUILang(GetParam().lang);
    controller->showPhoneTriggerWindow();
    EXPECT_EQ(taken(), Journal{"activate"});
    const auto& window = *controller->phoneWindow();
    EXPECT_EQ((Journal{window.title, window.heading.text, window.explanation.text,
                       window.switchLabel.text, window.resetButtonTitle, window.address.text}),
              GetParam().shown);
    EXPECT_TRUE(!window.switchOn && !window.qr && window.hint.text.empty());
    window.onToggle(true);
    EXPECT_TRUE(config.phoneTriggerEnabled && window.switchOn && window.qr);
    EXPECT_EQ(window.hint.text, GetParam().hint);
    const std::string before = config.phoneToken;
    window.onReset();
    EXPECT_NE(config.phoneToken, before);
    EXPECT_EQ(window.address.text, "http://192.168.1.20:8930/?t=" + config.phoneToken);
    server->address.reset();
    controller->refreshPhoneWindow();
    EXPECT_EQ(window.address.text, GetParam().noAddress);
    EXPECT_TRUE(!window.qr && window.hint.text.empty());
}

INSTANTIATE_TEST_SUITE_P(
    BothLanguages, PhoneWindowTest,
    ::testing::Values(
        WindowTexts{"zh",
                    {"手机遥控", "手机当遥控器",
                     "手机浏览器扫码打开页面,一个「按住说话」按钮即可驱动 Vurin。手机和电脑要在同一"
                     "可信 Wi-Fi。",
                     "开启手机遥控", "重置配对(旧手机需重扫)", "已关闭"},
                    "未连到 Wi-Fi,拿不到本机地址",
                    "手机打不开页面时,请确认防火墙放行了 TCP 端口 8930。"},
        WindowTexts{"en",
                    {"Phone Remote", "Phone as remote",
                     "Scan to open the page in your phone browser; one hold-to-talk button drives "
                     "Vurin. Phone and computer must be on the same trusted Wi-Fi.",
                     "Enable phone remote", "Reset pairing (re-scan on phone)", "Off"},
                    "Not on Wi-Fi — no local address",
                    "If the phone can't open the page, allow TCP port 8930 through the firewall."}),
    [](const auto& info) { return std::string(info.param.lang); });

TEST(PhoneQRTest, ScaledWithoutSmoothingAndFramedByLightModules) {
    const auto image = qrImage("http://192.168.1.20:8930/?t=00112233445566778899aabbccddeeff", 220);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels.size(), 220U * 220U);
    // Quiet zone: the border is light; the top-left finder pattern starts dark just inside it.
    for (int i = 0; i < 220; ++i) {
        EXPECT_FALSE(image->isDark(i, 0) || image->isDark(0, i) || image->isDark(219, i) ||
                     image->isDark(i, 219))
            << i;
    }
    EXPECT_TRUE(image->isDark(32, 32));
    EXPECT_FALSE(qrImage("x", 0));
    EXPECT_FALSE(qrImage(std::string(8000, 'a'), 220));  // beyond any QR version
}

TEST(GenericPhoneWindowPresenterTest, OneWindowRaisedOnEachShowAndANewOneAfterClosing) {
    auto windows = std::make_shared<testing::FakeWindowRenderer>();
    auto presenter = GenericPhoneWindowPresenter::create(windows, nullptr);
    const PhoneWindowModel model = makePhoneWindowModel();
    presenter->update(model);  // no window yet: nothing happens
    EXPECT_TRUE(windows->opened.empty());
    presenter->show(model);
    presenter->show(model);
    ASSERT_EQ(windows->opened.size(), 1U);
    Journal labels;
    for (const auto& block : windows->last()->model.panes.at(0).cards.at(0).blocks) {
        for (const auto& control : std::get<ControlRowBlock>(block).controls) {
            if (const auto* label = std::get_if<Label>(&control.kind)) {
                labels.push_back(label->text);
            }
        }
    }
    EXPECT_EQ(labels, (Journal{model.heading.text, model.explanation.text, model.switchLabel.text,
                               model.address.text, model.hint.text}));
    EXPECT_EQ(windows->last()->raises + windows->last()->centerings, 4);
    windows->last()->userCloses();
    EXPECT_TRUE(windows->last()->closed);
    presenter->show(model);
    EXPECT_EQ(windows->opened.size(), 2U);
}

// A press is released after 61 s at the latest; a new press gets its own full 61 s.
TEST(RemoteButtonGuardTest, OneDownAndOneUpPerPressAndAReleaseAfterSixtyOneSeconds) {
    auto queue = std::make_shared<testing::VirtualMainQueue>();
    auto guard = RemoteButtonGuard::create(queue);
    Journal calls;
    guard->onDown = [&] { calls.push_back("down@" + std::to_string(int(queue->now() * 10))); };
    guard->onUp = [&] { calls.push_back("up@" + std::to_string(int(queue->now() * 10))); };
    const auto at = [&](double seconds, void (RemoteButtonGuard::*action)()) {
        queue->advance(seconds - queue->now());
        (guard.get()->*action)();
    };
    using G = RemoteButtonGuard;
    guard->release();  // without a press: nothing
    guard->forceRelease();
    for (auto action : {&G::press, &G::press, &G::release, &G::release}) {
        (guard.get()->*action)();
    }
    at(1, &G::press);
    queue->advance(60.999);
    EXPECT_TRUE(guard->isPressed());
    at(63, &G::release);  // the real release, late: ignored
    for (const double second : {70.0, 80.0, 100.0}) {
        at(second, second == 80 ? &G::release : &G::press);
    }
    queue->advance(60.5);
    EXPECT_TRUE(guard->isPressed());
    at(170, &G::press);
    at(175, &G::forceRelease);
    at(300, &G::press);
    guard.reset();  // the automatic release of a destroyed guard does nothing
    queue->advance(61);
    EXPECT_EQ(calls, (Journal{"down@0", "up@0", "down@10", "up@620", "down@700", "up@800",
                              "down@1000", "up@1610", "down@1700", "up@1750", "down@3000"}));
}

using PhoneRemoteWiringTest = testing::AppControllerFixture;

TEST_F(PhoneRemoteWiringTest, HooksReachTheLiveControllerAndDoNothingOnceItIsGone) {
    PhoneRemoteHooks hooks = phoneRemoteHooksFor(controller, shell);
    EXPECT_EQ(hooks.config(), &controller->config());
    hooks.keyDown();
    EXPECT_EQ(controller->engine()->state(), GestureEngine::PressState::pressed);
    hooks.keyUp();
    EXPECT_NE(controller->engine()->state(), GestureEngine::PressState::pressed);
    controller.reset();
    EXPECT_EQ(hooks.config(), nullptr);
    hooks.keyDown();
    hooks.keyUp();
    hooks.rebuildMenu();
}

}  // namespace
}  // namespace vurin

#include "phone/phone_remote_controller.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/language.h"
#include "support/log.h"
#include "support/virtual_main_queue.h"

namespace vurin {
namespace {

// Records what the controller asks of the server; start completions wait until the test
// delivers them.
class FakePhoneServer : public PhoneServer {
  public:
    void start(std::string token, StartCompletion completion) override {
        journal->push_back("start " + token);
        completions.push_back(std::move(completion));
    }
    void stop() override { journal->push_back("stop"); }
    void broadcast(std::string state) override { journal->push_back("broadcast " + state); }
    std::optional<std::string> url(std::string_view token) const override {
        if (!address) {
            return std::nullopt;
        }
        return "http://" + *address + ":8930/?t=" + std::string(token);
    }
    std::uint16_t port() const override { return 8930; }
    void setOnEvent(std::function<void(Event)> fn) override { onEvent = std::move(fn); }

    void completeStart(bool listening) {
        auto completion = completions.front();
        completions.erase(completions.begin());
        completion(listening);
    }

    std::shared_ptr<std::vector<std::string>> journal;
    std::vector<StartCompletion> completions;
    std::optional<std::string> address = "192.168.1.20";
    std::function<void(Event)> onEvent;
};

class PhoneRemoteControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        applyUILang("zh");
        server->journal = journal;
        setLogObserver([this](const std::string& line) { logs.push_back(line); });
        controller->attach({
            .config = [this] { return &config; },
            .saveConfig =
                [this](const Config& saved) {
                    journal->push_back("save " + saved.phoneToken);
                    savedConfigs.push_back(saved);
                },
            .keyDown = [this] { journal->push_back("keyDown"); },
            .keyUp = [this] { journal->push_back("keyUp"); },
            .rebuildMenu = [this] { journal->push_back("rebuildMenu"); },
            .activateApplication = [this] { journal->push_back("activate"); },
        });
    }
    void TearDown() override {
        setLogObserver({});
        applyUILang("auto");
    }

    void event(PhoneServer::Event e) {
        ASSERT_TRUE(server->onEvent);
        server->onEvent(e);
    }
    int count(const std::string& entry) const {
        return static_cast<int>(std::count(journal->begin(), journal->end(), entry));
    }

    std::shared_ptr<testing::VirtualMainQueue> queue =
        std::make_shared<testing::VirtualMainQueue>();
    std::shared_ptr<std::vector<std::string>> journal =
        std::make_shared<std::vector<std::string>>();
    std::shared_ptr<FakePhoneServer> server = std::make_shared<FakePhoneServer>();
    std::shared_ptr<PhoneRemoteController> controller =
        PhoneRemoteController::create(queue, server);
    Config config;
    std::vector<Config> savedConfigs;
    std::vector<std::string> logs;
};

TEST_F(PhoneRemoteControllerTest, LaunchUpgradesAShortTokenAndSavesItBeforeStarting) {
    config.phoneTriggerEnabled = true;
    config.phoneToken = "abcd1234";
    controller->startIfEnabled();
    const std::string token = config.phoneToken;
    ASSERT_EQ(token.size(), 32U);
    EXPECT_EQ(*journal, (std::vector<std::string>{"save " + token, "start " + token}));
    EXPECT_EQ(logs, (std::vector<std::string>{"📱 手机配对安全码已升级,请重新扫码"}));
    server->completeStart(true);
    EXPECT_EQ(logs.back(), "📱 手机遥控已在后台开启(菜单「手机遥控…」可看二维码 / 关闭)");
}

TEST_F(PhoneRemoteControllerTest, LaunchWithEmptyTokenGeneratesOneSilently) {
    config.phoneTriggerEnabled = true;
    controller->startIfEnabled();
    EXPECT_EQ(config.phoneToken.size(), 32U);
    EXPECT_EQ(savedConfigs.size(), 1U);
    EXPECT_TRUE(logs.empty());
    server->completeStart(false);
    EXPECT_EQ(logs, (std::vector<std::string>{"❌ 手机遥控端口 8930 启动失败(可能被占用)"}));
}

TEST_F(PhoneRemoteControllerTest, LaunchWithTheRemoteOffDoesNothingAndKeepsAGoodToken) {
    controller->startIfEnabled();
    EXPECT_TRUE(journal->empty());
    config.phoneTriggerEnabled = true;
    config.phoneToken = std::string(32, 'f');
    controller->startIfEnabled();
    EXPECT_EQ(*journal, (std::vector<std::string>{"start " + std::string(32, 'f')}));
}

TEST_F(PhoneRemoteControllerTest, EnablingGeneratesSavesStartsAndRefreshes) {
    controller->buildPhoneWindow();
    controller->setPhoneTrigger(true);
    const std::string token = config.phoneToken;
    ASSERT_EQ(token.size(), 32U);
    EXPECT_TRUE(config.phoneTriggerEnabled);
    EXPECT_EQ(*journal,
              (std::vector<std::string>{"save " + token, "start " + token, "rebuildMenu"}));
    EXPECT_TRUE(savedConfigs.back().phoneTriggerEnabled);
    EXPECT_TRUE(logs.empty());  // no upgrade line for a first token
    EXPECT_TRUE(controller->phoneWindow()->switchOn);
    server->completeStart(true);
    EXPECT_EQ(logs, (std::vector<std::string>{"📱 手机遥控已开启,同一可信 Wi-Fi 扫码即可用"}));
}

TEST_F(PhoneRemoteControllerTest, DisablingWhileHeldReleasesAtOnceAndStops) {
    controller->setPhoneTrigger(true);
    event(PhoneServer::Event::down);
    journal->clear();
    controller->setPhoneTrigger(false);
    EXPECT_FALSE(config.phoneTriggerEnabled);
    EXPECT_FALSE(savedConfigs.back().phoneTriggerEnabled);
    EXPECT_EQ(*journal, (std::vector<std::string>{"save " + config.phoneToken, "keyUp", "stop",
                                                  "rebuildMenu"}));
    EXPECT_EQ(logs.back(), "📱 手机遥控已关闭");
}

TEST_F(PhoneRemoteControllerTest, PressesReachTheGestureEngineOnceEach) {
    controller->setPhoneTrigger(true);
    journal->clear();
    event(PhoneServer::Event::up);  // release without press
    event(PhoneServer::Event::down);
    event(PhoneServer::Event::down);
    queue->advance(30);
    event(PhoneServer::Event::up);
    queue->advance(61);  // the cancelled automatic release never fires
    EXPECT_EQ(*journal, (std::vector<std::string>{"keyDown", "keyUp"}));
}

TEST_F(PhoneRemoteControllerTest, HeldPastTheLimitIsReleasedAndTheLateUpIgnored) {
    controller->setPhoneTrigger(true);
    journal->clear();
    event(PhoneServer::Event::down);
    queue->advance(61);
    EXPECT_EQ(*journal, (std::vector<std::string>{"keyDown", "keyUp"}));
    event(PhoneServer::Event::up);
    EXPECT_EQ(count("keyUp"), 1);
}

TEST_F(PhoneRemoteControllerTest, EventsWhileOffAreDropped) {
    controller->setPhoneTrigger(true);
    config.phoneTriggerEnabled = false;  // e.g. switched off while a request was on its way
    journal->clear();
    event(PhoneServer::Event::down);
    EXPECT_TRUE(journal->empty());
}

TEST_F(PhoneRemoteControllerTest, ResetWhileOffStoresANewTokenWithoutStarting) {
    config.phoneToken = std::string(32, 'a');
    controller->resetPhoneToken();
    EXPECT_NE(config.phoneToken, std::string(32, 'a'));
    EXPECT_EQ(config.phoneToken.size(), 32U);
    EXPECT_EQ(*journal, (std::vector<std::string>{"save " + config.phoneToken}));
    EXPECT_EQ(logs, (std::vector<std::string>{"📱 已重置配对,旧手机需重新扫码"}));
}

TEST_F(PhoneRemoteControllerTest, ResetWhileOnReleasesThenRestartsWithTheNewToken) {
    controller->setPhoneTrigger(true);
    server->completeStart(true);
    const std::string oldToken = config.phoneToken;
    event(PhoneServer::Event::down);
    journal->clear();
    controller->resetPhoneToken();
    ASSERT_NE(config.phoneToken, oldToken);
    EXPECT_EQ(*journal, (std::vector<std::string>{"keyUp", "save " + config.phoneToken, "stop",
                                                  "start " + config.phoneToken}));
}

TEST_F(PhoneRemoteControllerTest, StateAndShutdownGoToServerAndGuard) {
    controller->setPhoneTrigger(true);
    event(PhoneServer::Event::down);
    journal->clear();
    controller->broadcast("recording");
    controller->forceRelease();
    controller->stop();
    EXPECT_EQ(*journal, (std::vector<std::string>{"broadcast recording", "keyUp", "stop"}));
}

TEST_F(PhoneRemoteControllerTest, WindowTextsInChinese) {
    controller->showPhoneTriggerWindow();
    const auto& window = *controller->phoneWindow();
    EXPECT_EQ(window.title, "手机遥控");
    EXPECT_EQ(window.width, 400);
    EXPECT_EQ(window.height, 560);
    EXPECT_EQ(window.heading.text, "手机当遥控器");
    EXPECT_EQ(window.heading.style.pointSize, 18);
    EXPECT_TRUE(window.heading.style.bold);
    EXPECT_EQ(window.explanation.text,
              "手机浏览器扫码打开页面,一个「按住说话」按钮即可驱动 Vurin。手机和电脑要在同一可信 "
              "Wi-Fi。");
    EXPECT_EQ(window.explanation.style.wrapWidth, 340);
    EXPECT_EQ(window.switchLabel.text, "开启手机遥控");
    EXPECT_EQ(window.resetButtonTitle, "重置配对(旧手机需重扫)");
    EXPECT_TRUE(window.address.style.monospaced);
    EXPECT_TRUE(window.address.style.selectable);
    EXPECT_EQ(window.hint.style.pointSize, 11);
    // Off: the address says so, no QR, no hint.
    EXPECT_FALSE(window.switchOn);
    EXPECT_EQ(window.address.text, "已关闭");
    EXPECT_FALSE(window.qr);
    EXPECT_EQ(window.hint.text, "");
    EXPECT_EQ(count("activate"), 1);
}

TEST_F(PhoneRemoteControllerTest, WindowTextsInEnglishWithAddressAndQR) {
    applyUILang("en");
    controller->buildPhoneWindow();
    controller->setPhoneTrigger(true);
    const auto& window = *controller->phoneWindow();
    EXPECT_EQ(window.title, "Phone Remote");
    EXPECT_EQ(window.heading.text, "Phone as remote");
    EXPECT_EQ(window.switchLabel.text, "Enable phone remote");
    EXPECT_EQ(window.resetButtonTitle, "Reset pairing (re-scan on phone)");
    EXPECT_TRUE(window.switchOn);
    EXPECT_EQ(window.address.text, "http://192.168.1.20:8930/?t=" + config.phoneToken);
    ASSERT_TRUE(window.qr);
    EXPECT_EQ(window.qr->side, 220);
    EXPECT_EQ(window.qr->pixels.size(), 220U * 220U);
    EXPECT_EQ(window.hint.text,
              "If the phone can't open the page, allow TCP port 8930 through the firewall.");

    server->address.reset();
    controller->refreshPhoneWindow();
    EXPECT_EQ(window.address.text, "Not on Wi-Fi — no local address");
    EXPECT_FALSE(window.qr);
    EXPECT_EQ(window.hint.text, "");
}

TEST_F(PhoneRemoteControllerTest, WindowActionsReachTheController) {
    applyUILang("zh");
    controller->buildPhoneWindow();
    controller->phoneWindow()->onToggle(true);
    EXPECT_TRUE(config.phoneTriggerEnabled);
    EXPECT_EQ(controller->phoneWindow()->hint.text,
              "手机打不开页面时,请确认防火墙放行了 TCP 端口 8930。");
    const std::string before = config.phoneToken;
    controller->phoneWindow()->onReset();
    EXPECT_NE(config.phoneToken, before);
    EXPECT_EQ(controller->phoneWindow()->address.text,
              "http://192.168.1.20:8930/?t=" + config.phoneToken);
    server->address.reset();
    controller->refreshPhoneWindow();
    EXPECT_EQ(controller->phoneWindow()->address.text, "未连到 Wi-Fi,拿不到本机地址");
}

TEST(PhoneQRTest, ScaledWithoutSmoothingAndFramedByLightModules) {
    const auto image = qrImage("http://192.168.1.20:8930/?t=00112233445566778899aabbccddeeff", 220);
    ASSERT_TRUE(image);
    int dark = 0;
    for (const auto pixel : image->pixels) {
        ASSERT_TRUE(pixel == 0 || pixel == 1);
        dark += pixel;
    }
    EXPECT_GT(dark, 220 * 220 / 5);
    EXPECT_LT(dark, 220 * 220 * 4 / 5);
    // Quiet zone: the border is light; the top-left finder pattern starts dark just inside it.
    for (int i = 0; i < 220; ++i) {
        EXPECT_FALSE(image->isDark(i, 0));
        EXPECT_FALSE(image->isDark(0, i));
        EXPECT_FALSE(image->isDark(219, i));
        EXPECT_FALSE(image->isDark(i, 219));
    }
    EXPECT_TRUE(image->isDark(32, 32));
    EXPECT_FALSE(qrImage("x", 0));
    EXPECT_FALSE(qrImage(std::string(8000, 'a'), 220));  // beyond any QR version
}

}  // namespace
}  // namespace vurin

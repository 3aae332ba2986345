// The phone page in a real browser against the real server: Debian's headless Chromium loads
// it from a PhoneTriggerServer on loopback, as a phone on the same Wi-Fi would.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config/config.h"
#include "phone/phone_page.h"
#include "phone/phone_remote_controller.h"
#include "phone/phone_trigger_server.h"
#include "providers/request_parts.h"
#include "support/headless_chromium.h"
#include "support/virtual_main_queue.h"

namespace vurin {
namespace {

using namespace std::chrono_literals;
using testing::HeadlessChromium;
using Json = nlohmann::json;

constexpr std::string_view kToken = "00112233445566778899aabbccddeeff";

struct PageTexts {
    std::string title;
    std::string hold;
    std::string sub;
    std::string foot;
    std::string connecting;
    std::string connected;
    std::string reconnecting;
    // state -> state line, button label
    std::map<std::string, std::pair<std::string, std::string>> states;
};

const PageTexts kChineseTexts{.title = "Vurin 遥控",
                              .hold = "按住说话",
                              .sub = "按住 = 说话 · 松开 = 出字<br>点一下 = 发送 · 双击 = 取消",
                              .foot = "Vurin 手机遥控 · 仅在可信 Wi-Fi 使用",
                              .connecting = "连接中…",
                              .connected = "已连接",
                              .reconnecting = "重连中…",
                              .states = {{"idle", {"就绪", "按住说话"}},
                                         {"recording", {"录音中…", "松开出字"}},
                                         {"transcribing", {"转写润色中…", "处理中…"}},
                                         {"pending", {"待发送(点发送)", "点=发送"}}}};

const PageTexts kEnglishTexts{
    .title = "Vurin Remote",
    .hold = "Hold to talk",
    .sub = "Hold = talk · Release = type<br>Tap = send · Double-tap = cancel",
    .foot = "Vurin phone remote · Use only on trusted Wi-Fi",
    .connecting = "Connecting…",
    .connected = "Connected",
    .reconnecting = "Reconnecting…",
    .states = {{"idle", {"Ready", "Hold to talk"}},
               {"recording", {"Recording…", "Release to type"}},
               {"transcribing", {"Transcribing…", "Working…"}},
               {"pending", {"Ready to send (tap)", "Tap = send"}}}};

// The dot colour of each state, as the computed style gives it back.
const std::map<std::string, std::string> kStateColours{{"idle", "#4ade80"},
                                                       {"recording", "#f43f5e"},
                                                       {"transcribing", "#f59e0b"},
                                                       {"pending", "#38bdf8"}};

// "#f43f5e" as getComputedStyle reports it: "rgb(244, 63, 94)".
std::string rgb(const std::string& hex) {
    const unsigned long value = std::strtoul(hex.c_str() + 1, nullptr, 16);
    return "rgb(" + std::to_string(value >> 16) + ", " + std::to_string((value >> 8) & 0xFF) +
           ", " + std::to_string(value & 0xFF) + ")";
}

class PhonePageBrowserTest : public ::testing::Test {
  protected:
    // One browser for the suite (it takes seconds to start); each test opens its own page.
    static void SetUpTestSuite() {
        folder_ = std::filesystem::path(::testing::TempDir()) / "phone-page-browser";
        std::string whyNot;
        browser_ = HeadlessChromium::launch(folder_, {"--accept-lang=en-US"}, whyNot);
        launchError_ = whyNot;
        if (browser_) {
            const auto version = browser_->call("Browser.getVersion");
            userAgent_ = version ? version->value("userAgent", "") : "";
        }
    }
    static void TearDownTestSuite() { browser_.reset(); }

    void SetUp() override {
        ASSERT_TRUE(browser_) << "headless chromium did not start: " << launchError_;
        config.phoneTriggerEnabled = true;
        config.phoneToken = std::string(kToken);
        controller->attach({
            .config = [this] { return &config; },
            .saveConfig = [](const Config&) {},
            .keyDown = [this] { ++keyDowns; },
            .keyUp = [this] { ++keyUps; },
            .rebuildMenu = [] {},
            .activateApplication = [] {},
        });
        controller->startIfEnabled();
        ASSERT_TRUE(waitFor([this] { return server->boundPort() != 0; }));
        origin = "http://127.0.0.1:" + std::to_string(server->boundPort());
        const auto session = browser_->openPage();
        ASSERT_TRUE(session) << browser_->lastError();
        session_ = *session;
        firstEvent_ = browser_->events().size();
        for (const char* domain :
             {"Runtime.enable", "Log.enable", "Network.enable", "Page.enable"}) {
            ASSERT_TRUE(browser_->call(domain, Json::object(), session_)) << browser_->lastError();
        }
    }

    void TearDown() override {
        if (browser_) {
            browser_->onEvent = nullptr;
            if (!session_.empty()) {
                browser_->closePage(session_);
            }
        }
        controller->stop();
        queue->runPending();
    }

    // Runs the main queue and reads from the browser until `condition` holds.
    bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 15s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (true) {
            queue->runPending();
            if (condition()) {
                return true;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            browser_->pump(20ms);
        }
    }

    // Reads from the browser for `duration`, running the main queue: for checking that nothing
    // more arrives.
    void settle(std::chrono::milliseconds duration) {
        const auto until = std::chrono::steady_clock::now() + duration;
        waitFor([until] { return std::chrono::steady_clock::now() > until; });
    }

    // The phone's own language, as its browser reports it to the page.
    void useLanguage(const std::string& tag) {
        ASSERT_TRUE(browser_->call("Emulation.setUserAgentOverride",
                                   {{"userAgent", userAgent_}, {"acceptLanguage", tag}}, session_))
            << browser_->lastError();
    }

    void load(const std::string& url) {
        const std::size_t before = browser_->events().size();
        ASSERT_TRUE(browser_->call("Page.navigate", {{"url", url}}, session_))
            << browser_->lastError();
        ASSERT_TRUE(waitFor([&] {
            const auto& events = browser_->events();
            for (std::size_t i = before; i < events.size(); ++i) {
                if (events[i].value("method", "") == "Page.loadEventFired" &&
                    events[i].value("sessionId", "") == session_) {
                    return true;
                }
            }
            return false;
        })) << "the page did not load";
    }

    void loadPage() { load(origin + "/?t=" + std::string(kToken)); }

    Json evaluate(const std::string& expression) {
        const auto result = browser_->call(
            "Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}}, session_);
        if (!result || result->contains("exceptionDetails")) {
            ADD_FAILURE() << expression << ": "
                          << (result ? result->dump() : browser_->lastError());
            return {};
        }
        return (*result)["result"].value("value", Json());
    }

    std::string text(const std::string& id) {
        const Json value = evaluate("document.getElementById('" + id + "').textContent");
        return value.is_string() ? value.get<std::string>() : "";
    }

    bool waitForText(const std::string& id, const std::string& expected) {
        return waitFor([&] { return text(id) == expected; });
    }

    // This page's events of one kind since the test began.
    std::vector<Json> pageEvents(const std::string& method) const {
        std::vector<Json> found;
        const auto& events = browser_->events();
        for (std::size_t i = firstEvent_; i < events.size(); ++i) {
            if (events[i].value("method", "") == method &&
                events[i].value("sessionId", "") == session_) {
                found.push_back(events[i]["params"]);
            }
        }
        return found;
    }

    // Console errors, uncaught exceptions and the browser's own error entries (failed loads,
    // blocked by the content security policy, ...).
    std::vector<std::string> consoleErrors() const {
        std::vector<std::string> errors;
        for (const auto& call : pageEvents("Runtime.consoleAPICalled")) {
            const std::string type = call.value("type", "");
            if (type == "error" || type == "assert") {
                errors.push_back("console." + type + ": " + call["args"].dump());
            }
        }
        for (const auto& thrown : pageEvents("Runtime.exceptionThrown")) {
            errors.push_back("exception: " + thrown["exceptionDetails"].dump());
        }
        for (const auto& entry : pageEvents("Log.entryAdded")) {
            // The browser asks for /favicon.ico by itself, without the token, and is refused
            // like any request without it; the page cannot name an icon of its own, since its
            // security policy allows no image source but the server, which has none.
            const bool refusedIcon = entry["entry"].value("url", "") == origin + "/favicon.ico" &&
                                     entry["entry"].value("source", "") == "network";
            if (entry["entry"].value("level", "") == "error" && !refusedIcon) {
                errors.push_back("log: " + entry["entry"].dump());
            }
        }
        return errors;
    }

    // "METHOD url" of every request the page made.
    std::vector<std::string> requests() const {
        std::vector<std::string> made;
        for (const auto& sent : pageEvents("Network.requestWillBeSent")) {
            made.push_back(sent["request"].value("method", "") + " " +
                           sent["request"].value("url", ""));
        }
        return made;
    }

    int countRequests(const std::string& request) const {
        const auto made = requests();
        return static_cast<int>(std::count(made.begin(), made.end(), request));
    }

    // The button's box in CSS pixels: left, top, width, height.
    Json buttonBox() {
        return evaluate(
            "(() => { const r = document.getElementById('btn').getBoundingClientRect();"
            " return {left: r.left, top: r.top, right: r.right, bottom: r.bottom,"
            " width: r.width, height: r.height}; })()");
    }

    void mouse(const std::string& type, double x, double y) {
        ASSERT_TRUE(browser_->call("Input.dispatchMouseEvent",
                                   {{"type", type},
                                    {"x", x},
                                    {"y", y},
                                    {"button", "left"},
                                    {"buttons", type == "mouseReleased" ? 0 : 1},
                                    {"clickCount", 1}},
                                   session_))
            << browser_->lastError();
    }

    // Fingers on the screen after the change: `touchStart` adds the last one, `touchEnd`
    // lists the fingers that stay.
    void touch(const std::string& type, const std::vector<std::pair<double, double>>& fingers) {
        Json points = Json::array();
        int id = 0;
        for (const auto& [x, y] : fingers) {
            points.push_back({{"x", x}, {"y", y}, {"id", id++}});
        }
        ASSERT_TRUE(browser_->call("Input.dispatchTouchEvent",
                                   {{"type", type}, {"touchPoints", points}}, session_))
            << browser_->lastError();
    }

    // A phone's screen: 390 by 844 CSS pixels at three device pixels each, touch input.
    void usePhoneScreen() {
        ASSERT_TRUE(browser_->call(
            "Emulation.setDeviceMetricsOverride",
            {{"width", 390}, {"height", 844}, {"deviceScaleFactor", 3}, {"mobile", true}},
            session_))
            << browser_->lastError();
        ASSERT_TRUE(browser_->call("Emulation.setTouchEmulationEnabled",
                                   {{"enabled", true}, {"maxTouchPoints", 5}}, session_))
            << browser_->lastError();
    }

    bool buttonHeld() {
        return evaluate("document.getElementById('btn').classList.contains('down')") == true;
    }

    void expectTexts(const PageTexts& texts) {
        EXPECT_EQ(evaluate("document.title"), texts.title);
        EXPECT_EQ(text("big"), texts.hold);
        EXPECT_EQ(evaluate("document.getElementById('sub').innerHTML"), texts.sub);
        EXPECT_EQ(text("foot"), texts.foot);
        EXPECT_EQ(text("state"), texts.states.at("idle").first);
        EXPECT_EQ(text("net"), texts.connected);
    }

    // Loaded with the right token, the stream open and its first state shown.
    void loadConnected(const PageTexts& texts) {
        loadPage();
        ASSERT_TRUE(waitForText("net", texts.connected)) << text("net");
        ASSERT_TRUE(waitForText("state", texts.states.at("idle").first)) << text("state");
    }

    static inline std::unique_ptr<HeadlessChromium> browser_;
    static inline std::filesystem::path folder_;
    static inline std::string launchError_;
    static inline std::string userAgent_;

    std::shared_ptr<testing::VirtualMainQueue> queue =
        std::make_shared<testing::VirtualMainQueue>();
    std::shared_ptr<PhoneTriggerServer> server = std::make_shared<PhoneTriggerServer>(queue, 0);
    std::shared_ptr<PhoneRemoteController> controller =
        PhoneRemoteController::create(queue, server);
    Config config;
    int keyDowns = 0;
    int keyUps = 0;
    std::string origin;
    std::string session_;
    std::size_t firstEvent_ = 0;
};

TEST_F(PhonePageBrowserTest, ChineseForAZhTWPhoneWithNoConsoleErrorAndNothingFromElsewhere) {
    useLanguage("zh-TW");
    loadConnected(kChineseTexts);
    EXPECT_EQ(evaluate("document.documentElement.lang"), "zh");
    expectTexts(kChineseTexts);
    EXPECT_FALSE(buttonHeld());

    settle(300ms);  // late errors (a favicon, a blocked resource) show up here
    EXPECT_EQ(consoleErrors(), std::vector<std::string>{});
    const auto made = requests();
    ASSERT_FALSE(made.empty());
    for (const auto& request : made) {
        EXPECT_TRUE(request.starts_with("GET " + origin + "/")) << request;
    }
    EXPECT_EQ(countRequests("GET " + origin + "/?t=" + std::string(kToken)), 1);
    EXPECT_EQ(countRequests("GET " + origin + "/events?t=" + std::string(kToken)), 1);
    EXPECT_EQ(keyDowns + keyUps, 0);
}

TEST_F(PhonePageBrowserTest, EnglishForEveryOtherLanguage) {
    for (const std::string tag : {"en-US", "ja-JP", "de"}) {
        SCOPED_TRACE(tag);
        useLanguage(tag);
        loadConnected(kEnglishTexts);
        EXPECT_EQ(evaluate("document.documentElement.lang"), "en");
        expectTexts(kEnglishTexts);
    }
    EXPECT_EQ(consoleErrors(), std::vector<std::string>{});
}

TEST_F(PhonePageBrowserTest, PointerDownAndUpSendOnePressAndOneRelease) {
    useLanguage("en-US");
    loadConnected(kEnglishTexts);
    const Json box = buttonBox();
    const double x = box["left"].get<double>() + box["width"].get<double>() / 2;
    const double y = box["top"].get<double>() + box["height"].get<double>() / 2;

    mouse("mousePressed", x, y);
    ASSERT_TRUE(waitFor([this] { return keyDowns == 1; }));
    EXPECT_TRUE(buttonHeld());
    // Sliding off the button does not release: the pointer is captured.
    mouse("mouseMoved", 2, 2);
    settle(200ms);
    EXPECT_EQ(keyUps, 0);
    EXPECT_TRUE(buttonHeld());

    mouse("mouseReleased", 2, 2);
    ASSERT_TRUE(waitFor([this] { return keyUps == 1; }));
    EXPECT_FALSE(buttonHeld());
    settle(300ms);
    EXPECT_EQ(keyDowns, 1);
    EXPECT_EQ(keyUps, 1);
    EXPECT_EQ(countRequests("POST " + origin + "/e/down?t=" + std::string(kToken)), 1);
    EXPECT_EQ(countRequests("POST " + origin + "/e/up?t=" + std::string(kToken)), 1);
    EXPECT_EQ(consoleErrors(), std::vector<std::string>{});
}

TEST_F(PhonePageBrowserTest, StateEventsUpdateTheDotTheStateLineAndTheButtonLabel) {
    for (const auto* texts : {&kChineseTexts, &kEnglishTexts}) {
        useLanguage(texts == &kChineseTexts ? "zh-TW" : "en-US");
        loadConnected(*texts);
        // Trailing whitespace is trimmed; an unknown state shows as idle.
        const std::vector<std::pair<std::string, std::string>> sent = {
            {"recording", "recording"}, {"transcribing", "transcribing"}, {"pending", "pending"},
            {"bogus", "idle"},          {"recording \t", "recording"},    {"idle", "idle"},
        };
        for (const auto& [state, shown] : sent) {
            SCOPED_TRACE(state);
            server->broadcast(state);
            const auto& [stateLine, label] = texts->states.at(shown);
            ASSERT_TRUE(waitForText("state", stateLine)) << text("state");
            EXPECT_EQ(text("big"), label);
            const std::string colour = kStateColours.at(shown);
            EXPECT_EQ(evaluate("getComputedStyle(document.getElementById('dot')).backgroundColor"),
                      rgb(colour));
            EXPECT_EQ(evaluate("getComputedStyle(document.getElementById('dot')).boxShadow"),
                      rgb(colour) + " 0px 0px 12px 0px");
            EXPECT_EQ(evaluate("document.documentElement.style.getPropertyValue('--c')"), colour);
        }
    }
    EXPECT_EQ(consoleErrors(), std::vector<std::string>{});
}

TEST_F(PhonePageBrowserTest, APageWithoutTokenKeepsReconnectingAndPressesNothing) {
    // The server never hands out the page without the token, so the browser is given the same
    // bytes for the bare address; everything the page then asks for goes to the real server.
    const std::string document(phonePageDocument());
    browser_->onEvent = [this, document](const Json& event) {
        if (event.value("method", "") == "Fetch.requestPaused" &&
            event.value("sessionId", "") == session_) {
            browser_->send(
                "Fetch.fulfillRequest",
                {{"requestId", event["params"]["requestId"]},
                 {"responseCode", 200},
                 {"responseHeaders",
                  Json::array({{{"name", "Content-Type"}, {"value", "text/html; charset=utf-8"}}})},
                 {"body", base64Encode(document)}},
                session_);
        }
    };
    ASSERT_TRUE(browser_->call(
        "Fetch.enable", {{"patterns", Json::array({{{"urlPattern", origin + "/"}}})}}, session_))
        << browser_->lastError();
    useLanguage("en-US");
    load(origin + "/");

    ASSERT_TRUE(waitFor([this] {
        return evaluate(
                   "(() => { const w = document.querySelector('#net span.warn');"
                   " return w ? w.textContent : ''; })()") == kEnglishTexts.reconnecting;
    })) << text("net");
    EXPECT_EQ(text("state"), kEnglishTexts.connecting);
    EXPECT_GE(countRequests("GET " + origin + "/events?t="), 1);

    const Json box = buttonBox();
    const double x = box["left"].get<double>() + box["width"].get<double>() / 2;
    const double y = box["top"].get<double>() + box["height"].get<double>() / 2;
    mouse("mousePressed", x, y);
    mouse("mouseReleased", x, y);
    ASSERT_TRUE(waitFor([this] {
        return countRequests("POST " + origin + "/e/down?t=") == 1 &&
               countRequests("POST " + origin + "/e/up?t=") == 1;
    }));
    settle(300ms);
    EXPECT_EQ(keyDowns + keyUps, 0);
}

TEST_F(PhonePageBrowserTest, FitsAPhoneScreenOf390By844) {
    usePhoneScreen();
    useLanguage("zh-TW");
    loadConnected(kChineseTexts);

    const auto shot = browser_->call("Page.captureScreenshot", {{"format", "png"}}, session_);
    ASSERT_TRUE(shot) << browser_->lastError();
    const std::string png = testing::base64Decode(shot->value("data", ""));
    ASSERT_TRUE(png.starts_with("\x89PNG\r\n\x1a\n"));
    const auto path = folder_ / "phone_page_390x844.png";
    std::ofstream(path, std::ios::binary) << png;
    if (const char* keep = std::getenv("VURIN_SCREENSHOT_DIR")) {
        std::ofstream(std::filesystem::path(keep) / path.filename(), std::ios::binary) << png;
    }
    std::printf("screenshot: %s\n", path.c_str());

    EXPECT_EQ(evaluate("innerWidth"), 390);
    EXPECT_EQ(evaluate("innerHeight"), 844);
    // Nothing scrolls: the page is exactly one screen.
    EXPECT_LE(evaluate("document.documentElement.scrollHeight").get<double>(), 844);
    EXPECT_LE(evaluate("document.documentElement.scrollWidth").get<double>(), 390);

    // The button: a large circle wholly on screen, not covered by anything.
    const Json box = buttonBox();
    EXPECT_GE(box["left"].get<double>(), 0);
    EXPECT_GE(box["top"].get<double>(), 0);
    EXPECT_LE(box["right"].get<double>(), 390);
    EXPECT_LE(box["bottom"].get<double>(), 844);
    EXPECT_NEAR(box["width"].get<double>(), 390 * 0.78, 1);  // min(78vw, 340px)
    EXPECT_NEAR(box["height"].get<double>(), box["width"].get<double>(), 0.5);
    EXPECT_EQ(evaluate("getComputedStyle(document.getElementById('btn')).visibility"), "visible");
    const double x = box["left"].get<double>() + box["width"].get<double>() / 2;
    const double y = box["top"].get<double>() + box["height"].get<double>() / 2;
    EXPECT_EQ(evaluate("document.elementFromPoint(" + std::to_string(x) + ", " + std::to_string(y) +
                       ").closest('#btn') !== null"),
              true);
    // Header and footer stay on screen above and below it.
    EXPECT_GE(
        evaluate("document.querySelector('header').getBoundingClientRect().top").get<double>(), 0);
    EXPECT_LE(
        evaluate("document.querySelector('footer').getBoundingClientRect().bottom").get<double>(),
        844);
    EXPECT_LE(
        evaluate("document.querySelector('header').getBoundingClientRect().bottom").get<double>(),
        box["top"].get<double>());
    EXPECT_GE(
        evaluate("document.querySelector('footer').getBoundingClientRect().top").get<double>(),
        box["bottom"].get<double>());

    // A finger on the button presses, lifting it releases.
    touch("touchStart", {{x, y}});
    ASSERT_TRUE(waitFor([this] { return keyDowns == 1; }));
    touch("touchEnd", {});
    ASSERT_TRUE(waitFor([this] { return keyUps == 1; }));
    EXPECT_EQ(consoleErrors(), std::vector<std::string>{});
}

TEST_F(PhonePageBrowserTest, ASecondFingerSendsNothingAndLiftingEitherReleases) {
    usePhoneScreen();
    useLanguage("en-US");
    loadConnected(kEnglishTexts);
    const Json box = buttonBox();
    const double x = box["left"].get<double>() + box["width"].get<double>() / 2;
    const double y = box["top"].get<double>() + box["height"].get<double>() / 2;

    touch("touchStart", {{x, y}});
    ASSERT_TRUE(waitFor([this] { return keyDowns == 1; }));
    touch("touchStart", {{x, y}, {x + 40, y + 40}});
    settle(300ms);
    EXPECT_EQ(countRequests("POST " + origin + "/e/down?t=" + std::string(kToken)), 1);
    // The second finger lifts first: that releases; the first one lifting later sends nothing.
    touch("touchEnd", {{x, y}});
    ASSERT_TRUE(waitFor([this] { return keyUps == 1; }));
    touch("touchEnd", {});
    settle(300ms);
    EXPECT_EQ(keyDowns, 1);
    EXPECT_EQ(keyUps, 1);
    EXPECT_EQ(countRequests("POST " + origin + "/e/up?t=" + std::string(kToken)), 1);

    // Switching away while holding (the window loses focus) releases too.
    touch("touchStart", {{x, y}});
    ASSERT_TRUE(waitFor([this] { return keyDowns == 2; }));
    evaluate("window.dispatchEvent(new Event('blur')), true");
    ASSERT_TRUE(waitFor([this] { return keyUps == 2; }));
    EXPECT_FALSE(buttonHeld());
    EXPECT_EQ(consoleErrors(), std::vector<std::string>{});
}

}  // namespace
}  // namespace vurin

// The phone page in a real browser against the real server: Debian's headless Chromium loads
// it from a PhoneTriggerServer on loopback, as a phone on the same Wi-Fi would.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>

#include "phone/phone_page.h"
#include "phone/phone_remote_controller.h"
#include "phone/phone_trigger_server.h"
#include "providers/request_parts.h"
#include "support/headless_chromium.h"
#include "support/testing.h"
#include "support/virtual_main_queue.h"

namespace vurin {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using Strings = std::vector<std::string>;
constexpr std::string_view kToken = "00112233445566778899aabbccddeeff";

struct PageTexts {
    Strings page;                           // lang, title, button, instructions, footer
    Strings net;                            // connecting, connected, reconnecting, dropped
    std::map<std::string, Strings> states;  // state line, button
};
const PageTexts kChinese{
    {"zh", "Vurin 遥控", "按住说话", "按住 = 说话 · 松开 = 出字<br>点一下 = 发送 · 双击 = 取消",
     "Vurin 手机遥控 · 仅在可信 Wi-Fi 使用"},
    {"连接中…", "已连接", "重连中…", "连接中断,检查 Wi-Fi"},
    {{"idle", {"就绪", "按住说话"}},
     {"recording", {"录音中…", "松开出字"}},
     {"transcribing", {"转写润色中…", "处理中…"}},
     {"pending", {"待发送(点发送)", "点=发送"}}}};
const PageTexts kEnglish{
    {"en", "Vurin Remote", "Hold to talk",
     "Hold = talk · Release = type<br>Tap = send · Double-tap = cancel",
     "Vurin phone remote · Use only on trusted Wi-Fi"},
    {"Connecting…", "Connected", "Reconnecting…", "Disconnected — check Wi-Fi"},
    {{"idle", {"Ready", "Hold to talk"}},
     {"recording", {"Recording…", "Release to type"}},
     {"transcribing", {"Transcribing…", "Working…"}},
     {"pending", {"Ready to send (tap)", "Tap = send"}}}};
// The dot of each state: its colour, and how the computed style gives it back.
const std::map<std::string, Strings> kColours = {{"idle", {"#4ade80", "rgb(74, 222, 128)"}},
                                                 {"recording", {"#f43f5e", "rgb(244, 63, 94)"}},
                                                 {"transcribing", {"#f59e0b", "rgb(245, 158, 11)"}},
                                                 {"pending", {"#38bdf8", "rgb(56, 189, 248)"}}};

// Runs in each page before its own script: `sent` and `answers` record every fetch ("METHOD URL")
// and its answer's status (0: failed), complete once an input event has been dispatched; `streams`
// the event streams opened, `errors` console errors, exceptions and blocked loads; `shown()` and
// `box()` tell what the page shows and where its button is.
constexpr const char* kProbe = R"(
    const original = window.fetch, Source = window.EventSource, $ = id => document.getElementById(id);
    Object.assign(window, {sent: [], answers: [], streams: [], errors: []});
    window.fetch = (url, options) => {
        sent.push(options.method + " " + new URL(url, location).href);
        const reply = original(url, options);
        reply.then(r => answers.push(r.status), () => answers.push(0));
        return reply;
    };
    window.EventSource = function (url) { streams.push(new URL(url, location).href); return new Source(url); };
    const error = console.error, assert = console.assert;
    console.error = (...a) => { errors.push("console: " + a.join(" ")); error.apply(console, a); };
    console.assert = (c, ...a) => { if (!c) errors.push("assert: " + a.join(" ")); assert.call(console, c, ...a); };
    addEventListener("error", e => errors.push("exception: " + e.message));
    addEventListener("securitypolicyviolation", e => errors.push("blocked: " + e.blockedURI));
    window.shown = () => ({
        page: [document.documentElement.lang, document.title, $("big").textContent,
               $("sub").innerHTML, $("foot").textContent],
        state: $("state").textContent, net: $("net").textContent,
        warning: getComputedStyle(document.querySelector("#net span.warn") || $("net")).color,
        held: $("btn").classList.contains("down"),
        meta: ["theme-color", "apple-mobile-web-app-capable", "viewport"].map(
            name => document.querySelector(`meta[name="${name}"]`).content),
        dot: [getComputedStyle($("dot")).backgroundColor, getComputedStyle($("dot")).boxShadow,
              document.documentElement.style.getPropertyValue("--c")]});
    window.box = () => { const r = $("btn").getBoundingClientRect().toJSON();
        return {...r, cx: r.left + r.width / 2, cy: r.top + r.height / 2}; };
)";

class PhonePageBrowserTest : public ::testing::Test {
  protected:
    // One browser for the suite (it takes seconds to start); each test opens its own page.
    static void SetUpTestSuite() {
        folder_ = std::filesystem::path(::testing::TempDir()) / "phone-page-browser";
        browser_ = testing::HeadlessChromium::launch(folder_, launchError_);
    }
    static void TearDownTestSuite() { browser_.reset(); }

    void SetUp() override {
        ASSERT_TRUE(browser_) << "headless chromium did not start: " << launchError_;
        config.phoneTriggerEnabled = true;
        config.phoneToken = std::string(kToken);
        controller->attach({.config = [this] { return &config; },
                            .saveConfig = [](const Config&) {},
                            .keyDown = [this] { ++keyDowns; },
                            .keyUp = [this] { ++keyUps; }});
        controller->startIfEnabled();
        ASSERT_TRUE(waitFor([this] { return server->boundPort() != 0; }));
        origin = "http://127.0.0.1:" + std::to_string(server->boundPort());
        session = browser_->openPage();
        call("Page.enable");
        call("Page.addScriptToEvaluateOnNewDocument", {{"source", kProbe}});
        // Requests the Fetch domain pauses: the bare address gets the page, the others fail.
        browser_->onEvent = [this, page = std::string(phonePageDocument())](const Json& event) {
            const Json paused = event.value("params", Json::object());
            if (event.value("method", "") != "Fetch.requestPaused") {
                return;
            }
            if (paused["request"]["url"] != origin + "/") {
                call("Fetch.failRequest",
                     {{"requestId", paused["requestId"]}, {"errorReason", "Failed"}}, 0ms);
                return;
            }
            const Json type = {{"name", "Content-Type"}, {"value", "text/html; charset=utf-8"}};
            call("Fetch.fulfillRequest",
                 {{"requestId", paused["requestId"]},
                  {"responseCode", 200},
                  {"responseHeaders", Json::array({type})},
                  {"body", base64Encode(page)}},
                 0ms);
        };
    }
    void TearDown() override {
        if (browser_) {
            browser_->onEvent = nullptr;
            browser_->call("Page.close", {}, session, 0ms);
        }
        controller->stop();
        queue->runPending();
    }

    Json call(const std::string& method, Json params = Json::object(),
              std::chrono::milliseconds timeout = 15s) {
        const auto result = browser_->call(method, std::move(params), session, timeout);
        EXPECT_TRUE(result || timeout == 0ms) << browser_->lastError;
        return result.value_or(Json::object());
    }
    // The value of an expression; null when it cannot be evaluated (a page on its way, say).
    Json evaluate(const std::string& expression) {
        const auto result = browser_->call(
            "Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}}, session);
        return result ? result->value("result", Json::object()).value("value", Json()) : Json();
    }
    // Runs the main queue and reads from the browser until `condition` holds.
    bool waitFor(const std::function<bool()>& condition) {
        return testing::eventually(
            [&] { return queue->runPending(), browser_->pump(10ms), condition(); }, 15s);
    }
    // The page at `url` as a phone whose language is `language` loads it.
    void load(const std::string& language, const std::string& url) {
        call("Emulation.setUserAgentOverride",
             {{"userAgent", "Mozilla/5.0"}, {"acceptLanguage", language}});
        call("Page.navigate", {{"url", url}});
        ASSERT_TRUE(waitFor([&] {
            return evaluate("location.href === '" + url +
                            "' && document.readyState === 'complete'") == true;
        }));
    }
    void loadConnected(const std::string& language, const PageTexts& texts) {
        load(language, withToken("/"));
        ASSERT_TRUE(waitFor([&] {
            return shown()["net"] == texts.net[1] && shown()["state"] == texts.states.at("idle")[0];
        })) << shown();
    }
    Json shown() { return evaluate("shown()"); }
    Json sent() { return evaluate("sent"); }
    std::string withToken(const std::string& path, std::string_view token = kToken) const {
        return origin + path + "?t=" + std::string(token);
    }
    void mouse(const std::string& type, double x, double y) {
        call("Input.dispatchMouseEvent", {{"type", type},
                                          {"x", x},
                                          {"y", y},
                                          {"button", "left"},
                                          {"buttons", type == "mouseReleased" ? 0 : 1},
                                          {"clickCount", 1}});
    }
    // The fingers on the screen after the change.
    void touch(const std::string& type, const std::vector<std::pair<double, double>>& fingers) {
        Json points = Json::array();
        for (const auto& [x, y] : fingers) {
            points.push_back({{"x", x}, {"y", y}, {"id", points.size()}});
        }
        call("Input.dispatchTouchEvent", {{"type", type}, {"touchPoints", points}});
    }

    static inline std::unique_ptr<testing::HeadlessChromium> browser_;
    static inline std::filesystem::path folder_;
    static inline std::string launchError_;

    std::shared_ptr<testing::VirtualMainQueue> queue =
        std::make_shared<testing::VirtualMainQueue>();
    std::shared_ptr<PhoneTriggerServer> server = std::make_shared<PhoneTriggerServer>(queue, 0);
    std::shared_ptr<PhoneRemoteController> controller =
        PhoneRemoteController::create(queue, server);
    Config config;
    int keyDowns = 0;
    int keyUps = 0;
    std::string origin;
    std::string session;
};

class PhonePageLanguageTest : public PhonePageBrowserTest,
                              public ::testing::WithParamInterface<std::string> {};

TEST_P(PhonePageLanguageTest, TextsStatesAndConnectionInThePhonesLanguage) {
    const PageTexts& texts = GetParam().starts_with("zh") ? kChinese : kEnglish;
    // The server never hands out the page without the token, so the browser is given the same
    // bytes for the bare address; everything the page then asks for goes to the real server.
    call("Fetch.enable", {{"patterns", Json::array({{{"urlPattern", origin + "/"}}})}});
    load(GetParam(), origin + "/");
    ASSERT_TRUE(waitFor([&] {
        return shown()["net"] == texts.net[2] && shown()["warning"] == "rgb(244, 184, 96)";
    })) << shown();
    EXPECT_EQ(shown()["state"], texts.net[0]);
    const Json box = evaluate("box()");
    mouse("mousePressed", box["cx"], box["cy"]);
    mouse("mouseReleased", box["cx"], box["cy"]);
    ASSERT_TRUE(waitFor([&] {
        return evaluate("answers") == Json({403, 403});
    })) << evaluate("answers");
    EXPECT_EQ(sent(), Json({"POST " + withToken("/e/down", ""), "POST " + withToken("/e/up", "")}));
    EXPECT_EQ(evaluate("streams"), Json({withToken("/events", "")}));
    EXPECT_EQ(keyDowns + keyUps, 0);

    loadConnected(GetParam(), texts);
    EXPECT_EQ(shown()["page"], texts.page);
    EXPECT_EQ(shown()["meta"], Json({"#0b0f1a", "yes",
                                     "width=device-width, initial-scale=1, maximum-scale=1, "
                                     "user-scalable=no, viewport-fit=cover"}));
    EXPECT_EQ(shown()["held"], false);
    // Trailing whitespace is trimmed; an unknown state shows as idle.
    for (const auto& [state, shownAs] :
         std::vector<std::pair<std::string, std::string>>{{"recording", "recording"},
                                                          {"transcribing", "transcribing"},
                                                          {"pending", "pending"},
                                                          {"bogus", "idle"},
                                                          {"recording \t", "recording"},
                                                          {"idle", "idle"}}) {
        server->broadcast(state);
        ASSERT_TRUE(waitFor([&] { return shown()["state"] == texts.states.at(shownAs)[0]; }))
            << state;
        const auto& colour = kColours.at(shownAs);
        EXPECT_EQ(shown()["dot"], Json({colour[1], colour[1] + " 0px 0px 12px 0px", colour[0]}));
        EXPECT_EQ(shown()["page"][2], texts.states.at(shownAs)[1]);
    }
    EXPECT_EQ(evaluate("streams"), Json({withToken("/events")}));
    EXPECT_EQ(evaluate("errors"), Json::array());
    // A press whose request fails says the connection dropped.
    call("Fetch.enable", {{"patterns", Json::array({{{"urlPattern", "*/e/*"}}})}});
    mouse("mousePressed", box["cx"], box["cy"]);
    ASSERT_TRUE(waitFor([&] { return shown()["net"] == texts.net[3]; })) << shown();
    mouse("mouseReleased", box["cx"], box["cy"]);
    EXPECT_EQ(keyDowns + keyUps, 0);
}

// Chinese for every Chinese variant, English for any other language.
INSTANTIATE_TEST_SUITE_P(Phones, PhonePageLanguageTest,
                         ::testing::Values("zh-TW", "en-US", "ja-JP", "de"),
                         [](const auto& info) { return info.param.substr(0, 2); });

TEST_F(PhonePageBrowserTest, PointerDownAndUpSendOnePressAndOneRelease) {
    loadConnected("en-US", kEnglish);
    const Json box = evaluate("box()");
    mouse("mousePressed", box["cx"], box["cy"]);
    ASSERT_TRUE(waitFor([this] { return keyDowns == 1; }));
    mouse("mouseMoved", 2, 2);  // off the button: the pointer is captured
    EXPECT_EQ(sent().size(), 1U) << sent();
    EXPECT_EQ(shown()["held"], true);
    mouse("mouseReleased", 2, 2);
    ASSERT_TRUE(waitFor([this] { return keyUps == 1; }));
    EXPECT_EQ(shown()["held"], false);
    EXPECT_EQ(keyDowns, 1);
    EXPECT_EQ(sent(), Json({"POST " + withToken("/e/down"), "POST " + withToken("/e/up")}));
    EXPECT_EQ(evaluate("errors"), Json::array());
}

TEST_F(PhonePageBrowserTest, FitsAPhoneScreenAndFingersPressOnce) {
    // 390 by 844 CSS pixels at three device pixels each, touch input.
    call("Emulation.setDeviceMetricsOverride",
         {{"width", 390}, {"height", 844}, {"deviceScaleFactor", 3}, {"mobile", true}});
    call("Emulation.setTouchEmulationEnabled", {{"enabled", true}, {"maxTouchPoints", 5}});
    loadConnected("zh-TW", kChinese);
    const std::string png = testing::base64Decode(call("Page.captureScreenshot").value("data", ""));
    ASSERT_TRUE(png.starts_with("\x89PNG\r\n\x1a\n"));
    const auto path = folder_ / "phone_page_390x844.png";
    std::ofstream(path, std::ios::binary) << png;
    if (const char* keep = std::getenv("VURIN_SCREENSHOT_DIR")) {
        std::ofstream(std::filesystem::path(keep) / path.filename(), std::ios::binary) << png;
    }
    std::printf("screenshot: %s\n", path.c_str());

    // One screen, nothing scrolls; the button a large circle (min(78vw, 340px)) wholly on it,
    // not covered, between header and footer, which stay on screen.
    EXPECT_EQ(evaluate(R"((() => {
        const e = document.documentElement, b = box();
        const h = document.querySelector("header").getBoundingClientRect();
        const f = document.querySelector("footer").getBoundingClientRect();
        return {width: innerWidth, height: innerHeight,
            scrolls: e.scrollWidth > 390 || e.scrollHeight > 844,
            onScreen: b.left >= 0 && b.top >= 0 && b.right <= 390 && b.bottom <= 844,
            size: Math.abs(b.width - 390 * 0.78) <= 1 && Math.abs(b.height - b.width) <= 0.5,
            visible: getComputedStyle(document.getElementById("btn")).visibility,
            hit: document.elementFromPoint(b.cx, b.cy).closest("#btn") !== null,
            between: h.top >= 0 && h.bottom <= b.top && f.top >= b.bottom && f.bottom <= 844};
    })())"),
              Json({{"width", 390},
                    {"height", 844},
                    {"scrolls", false},
                    {"onScreen", true},
                    {"size", true},
                    {"visible", "visible"},
                    {"hit", true},
                    {"between", true}}));

    // A second finger sends nothing; lifting either one releases, the other one then nothing.
    const Json box = evaluate("box()");
    const double x = box["cx"], y = box["cy"];
    touch("touchStart", {{x, y}});
    ASSERT_TRUE(waitFor([this] { return keyDowns == 1; }));
    touch("touchStart", {{x, y}, {x + 40, y + 40}});
    EXPECT_EQ(sent().size(), 1U) << sent();
    touch("touchEnd", {{x, y}});
    ASSERT_TRUE(waitFor([this] { return keyUps == 1; }));
    touch("touchEnd", {});
    EXPECT_EQ(sent(), Json({"POST " + withToken("/e/down"), "POST " + withToken("/e/up")}));
    // Switching away while holding (the window loses focus) releases too.
    touch("touchStart", {{x, y}});
    ASSERT_TRUE(waitFor([this] { return keyDowns == 2; }));
    evaluate("window.dispatchEvent(new Event('blur')), true");
    ASSERT_TRUE(waitFor([this] { return keyUps == 2; }));
    EXPECT_EQ(shown()["held"], false);
    touch("touchEnd", {});
    EXPECT_EQ(sent().size(), 4U) << sent();
    // So does a cancelled touch; a long press opens no menu.
    touch("touchStart", {{x, y}});
    ASSERT_TRUE(waitFor([this] { return keyDowns == 3; }));
    touch("touchCancel", {});
    ASSERT_TRUE(waitFor([this] { return keyUps == 3; }));
    EXPECT_EQ(sent().size(), 6U);
    EXPECT_EQ(evaluate("!document.getElementById('btn').dispatchEvent("
                       "new MouseEvent('contextmenu', {cancelable: true}))"),
              true);
    EXPECT_EQ(evaluate("errors"), Json::array());
}

}  // namespace
}  // namespace vurin

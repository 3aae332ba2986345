#include <gtest/gtest.h>

#include "phone/phone_remote_controller.h"
#include "phone/phone_trigger_server.h"
#include "support/headless_chromium.h"
#include "support/stand_in_http_server.h"
#include "support/testing.h"
#include "support/virtual_main_queue.h"

namespace vurin {
namespace {

using Json = nlohmann::json;
using Strings = std::vector<std::string>;

// Each state sent (a trailing blank is trimmed, an unknown one is idle), its dot's colour; per
// language asked for, lang, title, button, instructions, footer, connection and each state's texts.
const std::vector<std::pair<const char*, const char*>> kStates = {
    {"recording \t", "rgb(244, 63, 94)"},
    {"transcribing", "rgb(245, 158, 11)"},
    {"pending", "rgb(56, 189, 248)"},
    {"bogus", "rgb(74, 222, 128)"}};
// clang-format off
const std::vector<std::pair<const char*, Strings>> kLanguages = {
    {"ja-JP", {"en", "Vurin Remote", "Hold to talk",
               "Hold = talk · Release = type<br>Tap = send · Double-tap = cancel",
               "Vurin phone remote · Use only on trusted Wi-Fi", "Connected", "Recording…",
               "Release to type", "Transcribing…", "Working…", "Ready to send (tap)", "Tap = send",
               "Ready", "Hold to talk"}},
    {"zh-TW", {"zh", "Vurin 遥控", "按住说话", "按住 = 说话 · 松开 = 出字<br>点一下 = 发送 · 双击 = 取消",
               "Vurin 手机遥控 · 仅在可信 Wi-Fi 使用", "已连接", "录音中…", "松开出字", "转写润色中…",
               "处理中…", "待发送(点发送)", "点=发送", "就绪", "按住说话"}}};
// clang-format on

// Before the page's script: fetch statuses (0: failed), errors, blocked loads and what it shows.
constexpr const char* kProbe = R"(
    const original = window.fetch;
    Object.assign(window, {answers: [], errors: []});
    window.fetch = (url, options) => {
        const reply = original(url, options);
        reply.then(r => answers.push(r.status), () => answers.push(0));
        return reply;
    };
    addEventListener("error", e => errors.push("exception: " + e.message));
    addEventListener("securitypolicyviolation", e => errors.push("blocked: " + e.blockedURI));
    window.shown = (id = n => document.getElementById(n)) => ({
        page: [document.documentElement.lang, document.title, id("big").textContent,
               id("sub").innerHTML, id("foot").textContent, id("net").textContent],
        state: [id("state").textContent, id("big").textContent, getComputedStyle(id("dot")).backgroundColor],
        warning: [id("net").textContent, getComputedStyle(id("net").firstElementChild || id("net")).color],
        held: id("btn").classList.contains("down")});
)";

TEST(PhonePageBrowserTest, FitsAPhoneShowsStatesInItsLanguagePressesOnceAndWarnsWhenUnpaired) {
    const auto browser = testing::HeadlessChromium::launch(
        std::filesystem::path(::testing::TempDir()) / "phone-page-browser");
    ASSERT_TRUE(browser) << "headless chromium did not start; see its chromium.log";
    auto queue = std::make_shared<testing::VirtualMainQueue>();
    // A fixed port, which a new pairing keeps.
    auto server = std::make_shared<PhoneTriggerServer>(queue, testing::refusingPort());
    auto controller = PhoneRemoteController::create(queue, server);
    Config config;
    config.phoneTriggerEnabled = true;
    int downs = 0, ups = 0;
    controller->attach({.config = [&] { return &config; },
                        .saveConfig = [](const Config&) {},
                        .keyDown = [&](double) { ++downs; },
                        .keyUp = [&](double) { ++ups; }});
    controller->startIfEnabled();
    const auto page = browser->call("Target.createTarget", {{"url", "about:blank"}});
    const std::string session =
        browser
            ->call("Target.attachToTarget",
                   {{"targetId", page.value()["targetId"]}, {"flatten", true}})
            .value()["sessionId"];
    const auto call = [&](const std::string& method, const Json& params) {
        return browser->call(method, params, session).value_or(Json::object());
    };
    const auto evaluate = [&](const std::string& expression) {  // null while a page loads
        return call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}})
            .value("result", Json::object())
            .value("value", Json());
    };
    const auto waitFor = [&](const char* what, const Json& expected) {
        const bool seen =
            testing::eventually([&] { return queue->runPending(), evaluate(what) == expected; },
                                std::chrono::seconds(15));
        EXPECT_TRUE(seen) << what << " shows " << evaluate(what) << ", not " << expected;
        return seen;
    };
    call("Page.enable", {});
    call("Page.addScriptToEvaluateOnNewDocument", {{"source", kProbe}});
    call("Emulation.setDeviceMetricsOverride",
         {{"width", 390}, {"height", 844}, {"deviceScaleFactor", 3}, {"mobile", true}});
    call("Emulation.setTouchEmulationEnabled", {{"enabled", true}, {"maxTouchPoints", 5}});
    // Chinese for every Chinese variant, English for any other language.
    for (const auto& [language, texts] : kLanguages) {
        call("Emulation.setUserAgentOverride",
             {{"userAgent", "Mozilla/5.0"}, {"acceptLanguage", language}});
        call("Page.navigate", {{"url", "http://127.0.0.1:" + std::to_string(server->boundPort()) +
                                           "/?t=" + config.phoneToken}});
        ASSERT_TRUE(waitFor("shown().page", Strings(texts.begin(), texts.begin() + 6)));
        for (std::size_t i = 0; i < kStates.size(); ++i) {
            server->broadcast(kStates[i].first);
            ASSERT_TRUE(
                waitFor("shown().state", {texts[6 + 2 * i], texts[7 + 2 * i], kStates[i].second}));
        }
    }
    const std::string png = call("Page.captureScreenshot", {}).value("data", "");
    EXPECT_TRUE(png.starts_with("iVBORw0KGgo")) << png.substr(0, 20);  // Base64 of a PNG head
    // One screen, no scrolling; the button a min(78vw, 340px) circle between header and footer.
    const Json layout = evaluate(R"((() => {
        const e = document.documentElement, b = document.getElementById("btn").getBoundingClientRect();
        const h = document.querySelector("header").getBoundingClientRect();
        const f = document.querySelector("footer").getBoundingClientRect();
        const x = b.x + b.width / 2, y = b.y + b.height / 2;  // the centre, to touch
        return [innerWidth, innerHeight, e.scrollWidth <= 390 && e.scrollHeight <= 844,
            Math.abs(b.width - 390 * 0.78) <= 1 && Math.abs(b.height - b.width) <= 0.5,
            document.elementFromPoint(x, y).closest("#btn") !== null,
            h.top >= 0 && h.bottom <= b.top && f.top >= b.bottom && f.bottom <= 844, [x, y]];
    })())");
    EXPECT_EQ(layout, Json({390, 844, true, true, true, true, layout.back()}));
    const auto touch = [&](const char* type) {
        const Json at = {{"x", layout.back()[0]}, {"y", layout.back()[1]}, {"id", 0}};
        call(
            "Input.dispatchTouchEvent",
            {{"type", type},
             {"touchPoints", type == std::string("touchEnd") ? Json::array() : Json::array({at})}});
    };
    const auto pressed = [&](int expectedDowns, int expectedUps) {
        return testing::eventually(
            [&] { return queue->runPending(), downs == expectedDowns && ups == expectedUps; });
    };
    touch("touchStart");
    ASSERT_TRUE(waitFor("shown().held", true) && pressed(1, 0));
    touch("touchEnd");
    ASSERT_TRUE(waitFor("[shown().held, answers, errors]", {false, {200, 200}, Json::array()}));
    EXPECT_TRUE(pressed(1, 1));
    // A new pairing refuses this page: its stream warns, its presses reach nothing.
    controller->resetPhoneToken();
    ASSERT_TRUE(waitFor("shown().warning", {"重连中…", "rgb(244, 184, 96)"}));
    touch("touchStart");
    touch("touchEnd");
    EXPECT_TRUE(waitFor("answers", {200, 200, 403, 403}));
    EXPECT_TRUE(pressed(1, 1));
}

}  // namespace
}  // namespace vurin

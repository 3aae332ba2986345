#include "phone/phone_page.h"

#include <gtest/gtest.h>

#include <string>

namespace vurin {
namespace {

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

TEST(PhonePageTest, DocumentHeadAsTheBrowserNeedsIt) {
    const std::string_view page = phonePageDocument();
    EXPECT_TRUE(page.starts_with("<!DOCTYPE html>\n<html lang=\"zh\">"));
    EXPECT_TRUE(contains(page, "<meta charset=\"utf-8\">"));
    EXPECT_TRUE(contains(page,
                         "content=\"width=device-width, initial-scale=1, maximum-scale=1, "
                         "user-scalable=no, viewport-fit=cover\""));
    EXPECT_TRUE(contains(page, "<meta name=\"apple-mobile-web-app-capable\" content=\"yes\">"));
    EXPECT_TRUE(contains(page, "<meta name=\"theme-color\" content=\"#0b0f1a\">"));
    EXPECT_TRUE(contains(page, "<title>Vurin 遥控</title>"));
    EXPECT_GT(page.size(), 4000U);
    EXPECT_LT(page.size(), 8000U);
}

TEST(PhonePageTest, ElementsTheScriptUses) {
    const std::string_view page = phonePageDocument();
    for (const char* element :
         {"<span id=\"dot\" class=\"dot\">", "<span id=\"state\" class=\"state\">",
          "<button id=\"btn\" class=\"btn\"", "<span id=\"big\" class=\"big\">",
          "<span id=\"sub\" class=\"sub\">", "<span id=\"foot\"></span><br><span id=\"net\">"}) {
        EXPECT_TRUE(contains(page, element)) << element;
    }
}

TEST(PhonePageTest, BothLanguagesAndAllStates) {
    const std::string_view page = phonePageDocument();
    for (const char* text : {"\"Vurin Remote\"",
                             "\"按住说话\"",
                             "\"Hold to talk\"",
                             "\"按住 = 说话 · 松开 = 出字<br>点一下 = 发送 · 双击 = 取消\"",
                             "\"Hold = talk · Release = type<br>Tap = send · Double-tap = cancel\"",
                             "\"Vurin 手机遥控 · 仅在可信 Wi-Fi 使用\"",
                             "\"Vurin phone remote · Use only on trusted Wi-Fi\"",
                             "\"连接中…\"",
                             "\"Connecting…\"",
                             "\"已连接\"",
                             "\"Connected\"",
                             "\"重连中…\"",
                             "\"Reconnecting…\"",
                             "\"连接中断,检查 Wi-Fi\"",
                             "\"Disconnected — check Wi-Fi\"",
                             "idle:\"#4ade80\"",
                             "recording:\"#f43f5e\"",
                             "transcribing:\"#f59e0b\"",
                             "pending:\"#38bdf8\"",
                             "\"录音中…\"",
                             "\"Release to type\"",
                             "\"转写润色中…\"",
                             "\"Working…\"",
                             "\"待发送(点发送)\"",
                             "\"Ready to send (tap)\"",
                             "\"点=发送\"",
                             "\"Tap = send\""}) {
        EXPECT_TRUE(contains(page, text)) << text;
    }
}

TEST(PhonePageTest, RequestsAndBehaviour) {
    const std::string_view page = phonePageDocument();
    for (const char* part :
         {"new EventSource(\"/events\" + query)", "encodeURIComponent(token)", "\"/e/down\"",
          "\"/e/up\"", "keepalive: true", "method: \"POST\"", "setPointerCapture",
          "\"pointercancel\"", "\"contextmenu\"", "\"blur\"",
          ".toLowerCase().indexOf(\"zh\") === 0", ".trim()", "touch-action:none",
          "transform:scale(.96)", "min(78vw,340px)", "env(safe-area-inset-bottom)", "#f4b860"}) {
        EXPECT_TRUE(contains(page, part)) << part;
    }
}

TEST(PhonePageTest, NoExternalResources) {
    const std::string_view page = phonePageDocument();
    EXPECT_FALSE(contains(page, "http:"));
    EXPECT_FALSE(contains(page, "https:"));
    EXPECT_FALSE(contains(page, "src="));
    EXPECT_FALSE(contains(page, "href="));
    EXPECT_FALSE(contains(page, "url("));
    EXPECT_FALSE(contains(page, "@import"));
}

}  // namespace
}  // namespace vurin

#include "phone/phone_window_presenter.h"

#include <gtest/gtest.h>

#include "support/app_fakes.h"
#include "support/fake_window_renderer.h"
#include "support/language.h"

namespace vurin {
namespace {

using testing::FakeShell;
using testing::FakeWindowRenderer;

PhoneWindowModel filledModel() {
    PhoneWindowModel model = makePhoneWindowModel();
    model.switchOn = true;
    model.address.text = "http://192.168.1.20:8930/?t=0123";
    model.qr = qrImage(model.address.text, model.qrSide);
    return model;
}

TEST(PhoneWindowContent, PiecesInOrderWithIds) {
    applyUILang("en");
    std::vector<std::string> calls;
    PhoneWindowModel model = filledModel();
    model.onToggle = [&](bool on) { calls.push_back(on ? "on" : "off"); };
    model.onReset = [&] { calls.push_back("reset"); };
    const WindowModel window = phoneWindowContent(model);
    EXPECT_EQ(window.title, "Phone Remote");
    EXPECT_EQ(window.width, 400);
    EXPECT_EQ(window.height, 560);
    ASSERT_EQ(window.panes.size(), 1U);
    EXPECT_EQ(window.panes[0].margins.top, 22);
    EXPECT_EQ(window.panes[0].margins.left, 24);
    EXPECT_EQ(window.panes[0].spacing, 14);
    const auto& blocks = window.panes[0].cards.at(0).blocks;
    ASSERT_EQ(blocks.size(), 7U);
    const auto control = [&](std::size_t block, std::size_t index) -> const Control& {
        return std::get<ControlRowBlock>(blocks[block]).controls.at(index);
    };
    EXPECT_EQ(std::get<Label>(control(0, 0).kind).text, "Phone as remote");
    EXPECT_EQ(std::get<Label>(control(1, 0).kind).text,
              "Scan to open the page in your phone browser; one hold-to-talk button drives Vurin. "
              "Phone and computer must be on the same trusted Wi-Fi.");
    EXPECT_EQ(std::get<Label>(control(1, 0).kind).style.wrapWidth, 340);
    EXPECT_EQ(control(2, 0).id, kPhoneSwitchId);
    EXPECT_TRUE(std::get<Switch>(control(2, 0).kind).on);
    EXPECT_EQ(std::get<Label>(control(2, 1).kind).text, "Enable phone remote");
    EXPECT_EQ(control(3, 0).id, kPhoneQRId);
    const auto& qr = std::get<ImageView>(control(3, 0).kind);
    EXPECT_EQ(qr.width, 220);
    EXPECT_TRUE(qr.whiteBackground);
    EXPECT_EQ(qr.cornerRadius, 8);
    ASSERT_TRUE(qr.image);
    EXPECT_EQ(qr.image->gray.size(), 220U * 220U);
    EXPECT_EQ(control(4, 0).id, kPhoneAddressId);
    EXPECT_TRUE(std::get<Label>(control(4, 0).kind).style.monospaced);
    EXPECT_EQ(std::get<Button>(control(5, 0).kind).title, "Reset pairing (re-scan on phone)");
    EXPECT_EQ(control(6, 0).id, kPhoneHintId);

    std::get<Switch>(control(2, 0).kind).action(false);
    std::get<Button>(control(5, 0).kind).action();
    EXPECT_EQ(calls, (std::vector<std::string>{"off", "reset"}));
    applyUILang("auto");
}

TEST(PhoneWindowContent, QrPixelsBecomeBlackOnWhite) {
    const QrImage image{.side = 2, .pixels = {1, 0, 0, 1}};
    const ImageData data = qrImageData(image);
    EXPECT_EQ(data.width, 2);
    EXPECT_EQ(data.height, 2);
    EXPECT_EQ(data.gray, (std::vector<std::uint8_t>{0, 255, 255, 0}));
}

TEST(GenericPhoneWindowPresenter, UpdatesGoToTheOpenWindowAndCloseDropsIt) {
    auto windows = std::make_shared<FakeWindowRenderer>();
    auto shell = std::make_shared<FakeShell>();
    auto presenter = GenericPhoneWindowPresenter::create(windows, shell);
    PhoneWindowModel model = filledModel();
    presenter->update(model);  // no window yet: nothing happens
    EXPECT_TRUE(windows->opened.empty());

    presenter->show(model);
    presenter->show(model);
    ASSERT_EQ(windows->opened.size(), 1U);
    auto view = windows->last();
    EXPECT_EQ(view->raises, 2);
    EXPECT_EQ(view->centerings, 2);

    model.switchOn = false;
    model.address.text = "Off";
    model.qr.reset();
    model.hint.text = "";
    presenter->update(model);
    EXPECT_FALSE(view->switches.at(kPhoneSwitchId));
    EXPECT_EQ(view->texts.at(kPhoneAddressId), "Off");
    EXPECT_FALSE(view->images.at(kPhoneQRId));
    EXPECT_EQ(view->texts.at(kPhoneHintId), "");

    view->userCloses();
    EXPECT_TRUE(view->closed);
    EXPECT_EQ(presenter->window(), nullptr);
    EXPECT_EQ(shell->policies, (std::vector<ActivationPolicy>{ActivationPolicy::accessory}));
    presenter->show(model);
    EXPECT_EQ(windows->opened.size(), 2U);
}

}  // namespace
}  // namespace vurin

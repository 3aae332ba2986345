#include "phone/phone_window_model.h"

#include <qrencode.h>

#include <memory>

#include "support/language.h"

namespace vurin {
namespace {

constexpr int kQuietZoneModules = 2;

struct QRcodeFree {
    void operator()(QRcode* code) const { QRcode_free(code); }
};

}  // namespace

std::optional<QrImage> qrImage(const std::string& text, int side) {
    if (side <= 0) {
        return std::nullopt;
    }
    const std::unique_ptr<QRcode, QRcodeFree> code(
        QRcode_encodeData(static_cast<int>(text.size()),
                          reinterpret_cast<const unsigned char*>(text.data()), 0, QR_ECLEVEL_M));
    if (!code || code->width <= 0) {
        return std::nullopt;
    }
    const int modules = code->width + 2 * kQuietZoneModules;
    QrImage image{.side = side,
                  .pixels = std::vector<std::uint8_t>(static_cast<std::size_t>(side) *
                                                      static_cast<std::size_t>(side))};
    for (int y = 0; y < side; ++y) {
        const int row = y * modules / side - kQuietZoneModules;
        for (int x = 0; x < side; ++x) {
            const int column = x * modules / side - kQuietZoneModules;
            const bool inside =
                row >= 0 && row < code->width && column >= 0 && column < code->width;
            // Bit 0 of each module byte is "dark"; the other bits describe its role.
            const bool dark = inside && (code->data[row * code->width + column] & 1) != 0;
            image.pixels[static_cast<std::size_t>(y * side + x)] = dark ? 1 : 0;
        }
    }
    return image;
}

PhoneWindowModel makePhoneWindowModel() {
    using Colour = PhoneTextStyle::Colour;
    PhoneWindowModel model;
    model.title = L("手机遥控", "Phone Remote");
    model.heading = {L("手机当遥控器", "Phone as remote"), {.pointSize = 18, .bold = true}};
    model.explanation = {
        L("手机浏览器扫码打开页面,一个「按住说话」按钮即可驱动 Vurin。手机和电脑要在同一可信 "
          "Wi-Fi。",
          "Scan to open the page in your phone browser; one hold-to-talk button drives Vurin. "
          "Phone and computer must be on the same trusted Wi-Fi."),
        {.pointSize = 12, .colour = Colour::secondary, .wrapWidth = 340}};
    model.switchLabel = {L("开启手机遥控", "Enable phone remote"), {.pointSize = 14}};
    model.address = {"",
                     {.pointSize = 12,
                      .monospaced = true,
                      .colour = Colour::secondary,
                      .centered = true,
                      .selectable = true}};
    model.resetButtonTitle = L("重置配对(旧手机需重扫)", "Reset pairing (re-scan on phone)");
    model.hint = {"", {.pointSize = 11, .colour = Colour::tertiary}};
    return model;
}

}  // namespace vurin

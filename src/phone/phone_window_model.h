#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vurin {

// A square black-and-white image: `side` × `side` pixels, row by row, 1 = dark.
struct QrImage {
    int side = 0;
    std::vector<std::uint8_t> pixels;

    bool isDark(int x, int y) const { return pixels[static_cast<std::size_t>(y * side + x)] != 0; }
};

// The QR code of `text` (error correction M, two light modules of quiet zone), scaled up
// without smoothing to `side` pixels. Nothing when the text cannot be encoded.
std::optional<QrImage> qrImage(const std::string& text, int side);

// How a text of the phone window is set.
struct PhoneTextStyle {
    enum class Colour { primary, secondary, tertiary };
    double pointSize = 13;
    bool bold = false;
    bool monospaced = false;
    Colour colour = Colour::primary;
    double wrapWidth = 0;  // 0: no wrapping
    bool centered = false;
    bool selectable = false;
};

struct PhoneText {
    std::string text;
    PhoneTextStyle style;
};

// The phone remote window as plain data. The renderer stacks the pieces top to bottom in the
// order of the fields (heading ... hint), `topMargin` from the top, `sideMargin` from each side,
// `spacing` apart, and calls the actions back on the main thread.
struct PhoneWindowModel {
    std::string title;
    int width = 400;
    int height = 560;
    int topMargin = 22;
    int sideMargin = 24;
    int spacing = 14;

    PhoneText heading;
    PhoneText explanation;
    // The switch and its label share one row, `switchRowSpacing` apart.
    bool switchOn = false;
    PhoneText switchLabel;
    int switchRowSpacing = 12;
    // Drawn on white with rounded corners; empty when there is no address or no QR code.
    std::optional<QrImage> qr;
    int qrSide = 220;
    int qrCornerRadius = 8;
    PhoneText address;
    std::string resetButtonTitle;
    PhoneText hint;

    std::function<void(bool on)> onToggle;  // the switch's new state
    std::function<void()> onReset;
};

// The window's fixed texts in the current interface language; switch, address, QR and hint
// start empty (refreshPhoneWindow fills them).
PhoneWindowModel makePhoneWindowModel();

// The QR code's side in the window, in points.
inline constexpr int kPhoneQRSide = 220;

}  // namespace vurin

#include "phone/phone_window_presenter.h"

#include <utility>

namespace vurin {
namespace {

ColourRole colourOf(PhoneTextStyle::Colour colour) {
    switch (colour) {
        case PhoneTextStyle::Colour::primary:
            return ColourRole::primary;
        case PhoneTextStyle::Colour::secondary:
            return ColourRole::secondary;
        case PhoneTextStyle::Colour::tertiary:
            return ColourRole::tertiary;
    }
    return ColourRole::primary;
}

TextStyle textStyle(const PhoneTextStyle& style) {
    return TextStyle{.pointSize = style.pointSize,
                     .bold = style.bold,
                     .monospaced = style.monospaced,
                     .colour = colourOf(style.colour),
                     .alignment = style.centered ? TextAlignment::center : TextAlignment::leading,
                     .wrapWidth = static_cast<int>(style.wrapWidth),
                     .selectable = style.selectable};
}

ControlRowBlock single(Control control, TextAlignment alignment = TextAlignment::leading) {
    return ControlRowBlock{.controls = {std::move(control)}, .alignment = alignment};
}

std::optional<ImageData> qrPicture(const PhoneWindowModel& model) {
    if (!model.qr) {
        return std::nullopt;
    }
    return qrImageData(*model.qr);
}

}  // namespace

ImageData qrImageData(const QrImage& image) {
    ImageData data{.width = image.side, .height = image.side};
    data.gray.reserve(image.pixels.size());
    for (const std::uint8_t dark : image.pixels) {
        data.gray.push_back(dark != 0 ? 0 : 255);
    }
    return data;
}

WindowModel phoneWindowContent(const PhoneWindowModel& model) {
    Card content{.framed = false, .spacing = model.spacing};
    content.blocks.push_back(single(makeLabel(model.heading.text, textStyle(model.heading.style))));
    content.blocks.push_back(
        single(makeLabel(model.explanation.text, textStyle(model.explanation.style))));
    const auto onToggle = model.onToggle;
    content.blocks.push_back(ControlRowBlock{
        .controls = {makeSwitch(
                         model.switchOn,
                         [onToggle](bool on) {
                             if (onToggle) {
                                 onToggle(on);
                             }
                         },
                         kPhoneSwitchId),
                     makeLabel(model.switchLabel.text, textStyle(model.switchLabel.style))},
        .spacing = model.switchRowSpacing});
    content.blocks.push_back(
        single(Control{kPhoneQRId, ImageView{.image = qrPicture(model),
                                             .width = model.qrSide,
                                             .height = model.qrSide,
                                             .whiteBackground = true,
                                             .cornerRadius = model.qrCornerRadius}},
               TextAlignment::center));
    TextStyle address = textStyle(model.address.style);
    // The address line spans the content width so that long addresses stay centred.
    address.width = model.width - 2 * model.sideMargin;
    address.shrinkToFit = true;
    content.blocks.push_back(
        single(makeLabel(model.address.text, address, kPhoneAddressId), TextAlignment::center));
    const auto onReset = model.onReset;
    content.blocks.push_back(single(makeButton(model.resetButtonTitle,
                                               [onReset] {
                                                   if (onReset) {
                                                       onReset();
                                                   }
                                               }),
                                    TextAlignment::center));
    TextStyle hint = textStyle(model.hint.style);
    hint.wraps = true;
    content.blocks.push_back(single(makeLabel(model.hint.text, hint, kPhoneHintId)));

    Pane pane{.spacing = model.spacing,
              .margins = {model.topMargin, model.sideMargin, model.topMargin, model.sideMargin}};
    pane.cards.push_back(std::move(content));
    WindowModel window{
        .title = model.title, .width = model.width, .height = model.height, .scrollable = false};
    window.panes.push_back(std::move(pane));
    return window;
}

std::shared_ptr<GenericPhoneWindowPresenter> GenericPhoneWindowPresenter::create(
    std::shared_ptr<WindowRenderer> windows, std::shared_ptr<ApplicationShell> shell) {
    return std::shared_ptr<GenericPhoneWindowPresenter>(
        new GenericPhoneWindowPresenter(std::move(windows), std::move(shell)));
}

GenericPhoneWindowPresenter::GenericPhoneWindowPresenter(std::shared_ptr<WindowRenderer> windows,
                                                         std::shared_ptr<ApplicationShell> shell)
    : windows_(std::move(windows)), shell_(std::move(shell)) {}

void GenericPhoneWindowPresenter::show(const PhoneWindowModel& model) {
    if (!window_) {
        WindowModel content = phoneWindowContent(model);
        content.onClose = [weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->windowClosed();
            }
        };
        window_ = windows_->open(std::move(content));
    }
    if (window_) {
        window_->raise();
        window_->center();
    }
}

void GenericPhoneWindowPresenter::update(const PhoneWindowModel& model) {
    if (!window_) {
        return;
    }
    window_->setOn(kPhoneSwitchId, model.switchOn);
    window_->setText(kPhoneAddressId, model.address.text);
    window_->setImage(kPhoneQRId, qrPicture(model));
    window_->setText(kPhoneHintId, model.hint.text);
}

void GenericPhoneWindowPresenter::windowClosed() {
    if (auto window = std::exchange(window_, nullptr)) {
        window->close();
    }
    if (shell_) {
        shell_->setActivationPolicy(ActivationPolicy::accessory);
    }
}

}  // namespace vurin

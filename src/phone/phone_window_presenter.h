#pragma once

#include <memory>

#include "app/application_shell.h"
#include "app/window_model.h"
#include "phone/phone_remote_controller.h"
#include "phone/phone_window_model.h"

namespace vurin {

// The phone window as a generic window: the model's pieces become labels, a switch, a picture
// and a button stacked top to bottom, and later changes go to the controls by id.
WindowModel phoneWindowContent(const PhoneWindowModel& model);

// The grey-level picture of a QR code: dark modules black, the rest white.
ImageData qrImageData(const QrImage& image);

// Ids of the phone window's controls that change after it is built.
inline constexpr const char* kPhoneSwitchId = "phone.switch";
inline constexpr const char* kPhoneQRId = "phone.qr";
inline constexpr const char* kPhoneAddressId = "phone.address";
inline constexpr const char* kPhoneHintId = "phone.hint";

// Shows the phone window through a window renderer. Closing the window drops it (the next show
// builds it again) and returns the application to a tray-only one. Main thread only.
class GenericPhoneWindowPresenter
    : public PhoneWindowPresenter,
      public std::enable_shared_from_this<GenericPhoneWindowPresenter> {
  public:
    static std::shared_ptr<GenericPhoneWindowPresenter> create(
        std::shared_ptr<WindowRenderer> windows, std::shared_ptr<ApplicationShell> shell);

    void show(const PhoneWindowModel& model) override;
    void update(const PhoneWindowModel& model) override;

    const std::shared_ptr<WindowView>& window() const { return window_; }

  private:
    GenericPhoneWindowPresenter(std::shared_ptr<WindowRenderer> windows,
                                std::shared_ptr<ApplicationShell> shell);
    void windowClosed();

    std::shared_ptr<WindowRenderer> windows_;
    std::shared_ptr<ApplicationShell> shell_;
    std::shared_ptr<WindowView> window_;
};

}  // namespace vurin

#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "injection/clipboard_keeper.h"
#include "injection/clipboard_restore.h"
#include "injection/text_injector.h"
#include "platform/clipboard.h"
#include "platform/focus_reader.h"
#include "platform/keystrokes.h"
#include "platform/main_queue.h"

namespace vurin {

// Pastes through the clipboard and a synthesized paste chord, checks the target again shortly
// after, and puts the user's clipboard back once the target has read the text (ClipboardRestore).
// Without a clipboard (a Wayland desktop that lets no program set it unseen) the text is typed as
// key events instead. Sends Return and takes a paste back out with backspaces, each only while the
// target is unchanged. Started on the main thread; the keystrokes' outcome comes back to it.
class PasteInjector : public TextInjector {
  public:
    static constexpr double kConfirmationDelaySeconds = 0.12;
    // Applications drop keystrokes that arrive faster than they process them.
    static constexpr std::chrono::microseconds kBackspaceInterval{1500};

    PasteInjector(std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<FocusReader> focus,
                  std::shared_ptr<Clipboard> clipboard,
                  std::shared_ptr<KeystrokeSender> keystrokes);

    void inject(const std::string& text, std::weak_ptr<InjectionHost> host) override;
    void sendReturn(const PendingInjection& pending,
                    std::function<void(SendOutcome outcome)> done) override;
    void undoInsertedText(const PendingInjection& pending) override;
    void prepare() override { keystrokes_->prepare(); }
    void textComing() override;
    void finish() override;

    // The focused element still shows the pasted text right before a bare caret.
    bool canSafelyDeleteInsertedText(const PendingInjection& pending);

  private:
    void typeInto(const std::string& text, const InjectionTarget& target, std::int64_t attempt,
                  const std::weak_ptr<InjectionHost>& weakHost);

    std::shared_ptr<MainQueue> mainQueue_;
    std::shared_ptr<FocusReader> focus_;
    std::shared_ptr<Clipboard> clipboard_;
    std::shared_ptr<ClipboardKeeper> keeper_;
    std::shared_ptr<ClipboardRestore> restore_;
    std::shared_ptr<KeystrokeSender> keystrokes_;
};

}  // namespace vurin

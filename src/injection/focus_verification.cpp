#include "injection/focus_verification.h"

#include <unicode/unistr.h>

namespace vurin {

namespace {

std::string applicationName(const FrontApplication& application) {
    if (application.name && !application.name->empty()) {
        return *application.name;
    }
    // Programs whose name cannot be read are still told apart by their window class.
    if (application.classID && !application.classID->empty()) {
        return *application.classID;
    }
    return "未知应用";
}

// A Wayland terminal has no accessibility and the compositor tells no process: its window and
// app id are all there is to check, and they are enough.
bool knownByWindow(const FrontApplication& application) {
    return application.identifiedByWindow && application.windowID != 0 && application.classID &&
           !application.classID->empty();
}

icu::UnicodeString utf16(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
}

}  // namespace

std::optional<InjectionTarget> currentInjectionTarget(FocusReader& focus) {
    const std::optional<FrontApplication> application = focus.frontmostApplication();
    if (application && application->unverifiable) {
        return InjectionTarget{.appName = applicationName(*application), .unverifiable = true};
    }
    if (!application || (application->processID <= 0 && !knownByWindow(*application))) {
        return std::nullopt;
    }
    InjectionTarget target{.appName = applicationName(*application),
                           .bundleID = application->classID,
                           .processID = application->processID,
                           .windowID = application->windowID,
                           .focusedElement = focus.focusedElement()};
    if (target.focusedElement) {
        target.focusedRole = focus.roleOf(*target.focusedElement);
    }
    return target;
}

std::optional<std::string> targetMismatch(FocusReader& focus, const InjectionTarget& expected) {
    // A window that tells nothing about itself matches nothing, not even itself.
    if (expected.unverifiable) {
        return std::string("前台窗口没有无障碍信息,无法确认它还是原来的目标");
    }
    const std::optional<InjectionTarget> current = currentInjectionTarget(focus);
    if (!current) {
        return "当前没有可确认的文本输入焦点";
    }
    if (current->unverifiable) {
        return "焦点已切到一个没有无障碍信息的窗口";
    }
    // Processes are compared where both sides know theirs; otherwise the application is its
    // class (the Wayland app id).
    if (expected.processID > 0 && current->processID > 0 ? expected.processID != current->processID
                                                         : expected.bundleID != current->bundleID) {
        return "焦点已从「" + expected.appName + "」切到「" + current->appName + "」";
    }
    if (expected.bundleID && current->bundleID != expected.bundleID) {
        return "前台应用已变化";
    }
    // Windows of one program look alike when the element cannot tell them apart.
    if (expected.windowID != 0 && current->windowID != expected.windowID) {
        return "焦点已切到「" + current->appName + "」的另一个窗口";
    }
    if (expected.focusedElement && !current->focusedElement) {
        return "当前输入焦点不可确认";
    }
    if (expected.focusedElement && *current->focusedElement != *expected.focusedElement) {
        return "当前输入焦点已变化";
    }
    return std::nullopt;
}

std::optional<std::string> pendingTargetMismatch(FocusReader& focus,
                                                 const PendingInjection& pending) {
    return targetMismatch(focus, pending.target);
}

std::optional<std::string> textImmediatelyBeforeCaret(std::string_view value, long caretUTF16,
                                                      std::string_view inserted) {
    const icu::UnicodeString field = utf16(value);
    const long length = utf16(inserted).length();
    if (caretUTF16 < length || caretUTF16 > field.length()) {
        return std::nullopt;
    }
    std::string before;
    field
        .tempSubString(static_cast<std::int32_t>(caretUTF16 - length),
                       static_cast<std::int32_t>(length))
        .toUTF8String(before);
    return before;
}

}  // namespace vurin

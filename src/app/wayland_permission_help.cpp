#include "app/wayland_permission_help.h"

#include "input/wayland_trigger_capture.h"
#include "support/language.h"

namespace vurin {
namespace {

std::string escapeHtml(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string preformatted(const std::vector<std::string>& lines) {
    std::string block = "<pre>";
    for (const std::string& line : lines) {
        block += escapeHtml(line) + "\n";
    }
    return block + "</pre>\n";
}

std::string keystrokeSection(const WaylandKeystrokePaths& offered) {
    const std::string offers = offeredKeystrokePathsText(offered);
    return "<h2>" + L("辅助功能(Wayland)", "Accessibility (Wayland)") + "</h2>\n<p>" +
           L("Wayland 下没有 XTest,合成 Ctrl+V / Return 要走下面三条路之一,各桌面提供的不同:",
             "Wayland has no XTest: Ctrl+V / Return must take one of three paths, and each "
             "desktop offers different ones:") +
           "</p>\n<ul>\n<li>" +
           L("wlroots 合成器(sway、Hyprland、river):虚拟键盘协议,无需设置。",
             "wlroots compositors (sway, Hyprland, river): the virtual keyboard protocol, "
             "nothing to set up.") +
           "</li>\n<li>" +
           L("GNOME、KDE Plasma:RemoteDesktop 门户,第一次使用时桌面会请你同意。",
             "GNOME, KDE Plasma: the RemoteDesktop portal; the desktop asks for your consent "
             "the first time.") +
           "</li>\n<li>" +
           L("任何桌面:/dev/uinput。需要一条 udev 规则(在 /etc/udev/rules.d/ 下写入 "
             "<code>KERNEL==\"uinput\", GROUP=\"input\", MODE=\"0660\"</code>)并把自己加入 "
             "input 组(<code>sudo usermod -aG input $USER</code>),重新登录后生效。input "
             "组的成员也能读到所有键盘输入。",
             "Any desktop: /dev/uinput. It needs a udev rule (in /etc/udev/rules.d/: "
             "<code>KERNEL==\"uinput\", GROUP=\"input\", MODE=\"0660\"</code>) and your user "
             "in the input group (<code>sudo usermod -aG input $USER</code>); log in again "
             "afterwards. Members of the input group can also read every keyboard's input.") +
           "</li>\n</ul>\n<p>" +
           (offers.empty()
                ? L("这个桌面一条也没有提供。", "This desktop offers none of them.")
                : L("这个桌面提供:" + offers + "。", "This desktop offers " + offers + ".")) +
           L("这一版 Vurin 在 Wayland 下还不会用其中任何一条,所以暂时不能粘贴。读取焦点文字靠"
             "无障碍总线(AT-SPI),与 X11 相同:安装 at-spi2-core,并在桌面的辅助功能设置里打开"
             "辅助技术支持。",
             " This version of Vurin uses none of them on Wayland yet, so it cannot paste there. "
             "Reading the focused text uses the accessibility bus (AT-SPI) as on X11: install "
             "at-spi2-core and turn on assistive technology support in your desktop's "
             "accessibility settings.") +
           "</p>\n";
}

std::string triggerSection(const CompositorBindingLines& lines) {
    return "<h2>" + L("输入监控(Wayland)", "Input Monitoring (Wayland)") + "</h2>\n<p>" +
           L("Wayland 下程序不能独占按键。触发键按顺序来自:",
             "On Wayland no program may take a key for itself. The trigger comes from, in "
             "order:") +
           "</p>\n<ul>\n<li>" +
           L("桌面的全局快捷键(GNOME 48 起、KDE Plasma 5.27 起、Hyprland):Vurin "
             "启动时向桌面申请,桌面可能另选一个键;在桌面的键盘快捷键设置里查看和更改。",
             "the desktop's global shortcuts (GNOME 48 and later, KDE Plasma 5.27 and later, "
             "Hyprland): Vurin asks for one at start and the desktop may choose another key; "
             "see and change it in the desktop's keyboard shortcut settings.") +
           "</li>\n<li>" +
           L("键盘设备本身:需要在 input 组里(见上)。",
             "the keyboard devices themselves: needs the input group (see above).") +
           "</li>\n<li>" +
           L("合成器里的绑定:按下和松开时各运行一次 <code>vurin --trigger</code>。",
             "a binding in the compositor that runs <code>vurin --trigger</code> on press and "
             "on release.") +
           "</li>\n</ul>\n<p>" +
           L("sway:把这两行加进 ~/.config/sway/config,再运行 <code>swaymsg reload</code>:",
             "sway: add these two lines to ~/.config/sway/config, then run <code>swaymsg "
             "reload</code>:") +
           "</p>\n" + preformatted(lines.sway) + "<p>" +
           L("Hyprland:把这两行加进 ~/.config/hypr/hyprland.conf(保存后自动生效):",
             "Hyprland: add these two lines to ~/.config/hypr/hyprland.conf (it reloads on "
             "save):") +
           "</p>\n" + preformatted(lines.hyprland);
}

}  // namespace

CompositorBindingLines compositorBindingLines(const std::string& keyName,
                                              const std::string& program) {
    return {.sway = WaylandTriggerCapture::swayBindingLines(keyName, program),
            .hyprland = WaylandTriggerCapture::hyprlandBindingLines(keyName, program)};
}

std::string offeredKeystrokePathsText(const WaylandKeystrokePaths& offered) {
    std::vector<std::string> names;
    if (offered.virtualKeyboard) {
        names.push_back(L("虚拟键盘协议(wlroots)", "the virtual keyboard protocol (wlroots)"));
    }
    if (offered.remoteDesktopPortal) {
        names.push_back(L("RemoteDesktop 门户(GNOME/KDE)", "the RemoteDesktop portal (GNOME/KDE)"));
    }
    if (offered.uinputWritable) {
        names.push_back(L("可写的 /dev/uinput", "a writable /dev/uinput"));
    }
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            text += i + 1 < names.size() ? L("、", ", ") : L("、", " and ");
        }
        text += names[i];
    }
    return text;
}

std::string waylandKeystrokeNote(const WaylandKeystrokePaths& offered) {
    const std::string offers = offeredKeystrokePathsText(offered);
    if (offers.empty()) {
        return L(
            "⚠️ Wayland "
            "下暂时还不能粘贴:这个桌面没有虚拟键盘协议(wlroots)、"
            "RemoteDesktop 门户(GNOME/KDE),/dev/uinput 也不可写。",
            "⚠️ Pasting is not available on Wayland yet: this desktop offers no virtual "
            "keyboard protocol (wlroots), no RemoteDesktop portal (GNOME/KDE) and no "
            "writable /dev/uinput.");
    }
    return L("⚠️ Wayland 下暂时还不能粘贴:这个桌面提供" + offers +
                 ",但 Vurin 还没有用上。",
             "⚠️ Pasting is not available on Wayland yet: this desktop offers " + offers +
                 ", which Vurin does not use yet.");
}

std::string waylandHelpSections(const WaylandPermissionHelp& help) {
    return keystrokeSection(help.offered) +
           triggerSection(help.bindingLines ? help.bindingLines() : CompositorBindingLines{});
}

}  // namespace vurin

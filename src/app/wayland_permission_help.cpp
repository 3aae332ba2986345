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

WaylandKeystrokePath pathInUse(const WaylandPermissionHelp& help) {
    return help.pathInUse ? help.pathInUse() : WaylandKeystrokePath::none;
}

bool declined(const WaylandPermissionHelp& help) {
    return help.declined && help.declined();
}

std::string pathName(WaylandKeystrokePath path) {
    switch (path) {
        case WaylandKeystrokePath::virtualKeyboard:
            return L("虚拟键盘协议", "the virtual keyboard protocol");
        case WaylandKeystrokePath::remoteDesktopPortal:
            return L("RemoteDesktop 门户", "the RemoteDesktop portal");
        case WaylandKeystrokePath::uinput:
            return "/dev/uinput";
        case WaylandKeystrokePath::none:
            break;
    }
    return L("无", "none");
}

// Nothing is remembered of a declined request (Vurin asks for no restore token), so there is no
// setting to change: the next start asks again.
std::string declinedText() {
    return L(
        "你拒绝了桌面的键盘控制请求(RemoteDesktop 门户),这次运行无法粘贴。重新启动 "
        "Vurin,桌面会再问一次,选择允许即可。",
        "The desktop's keyboard control request (RemoteDesktop portal) was declined, so "
        "Vurin cannot paste in this run. Quit and reopen Vurin: the desktop asks again; "
        "allow it then.");
}

std::string pathInUseSentence(const WaylandPermissionHelp& help) {
    if (declined(help)) {
        return declinedText();
    }
    const WaylandKeystrokePath path = pathInUse(help);
    if (path == WaylandKeystrokePath::none) {
        return L("Vurin 在这个桌面上一条也用不上,所以不能粘贴。",
                 "Vurin can use none of them on this desktop, so it cannot paste here.");
    }
    return L("Vurin 在这个桌面上用的是" + pathName(path) + "。",
             "On this desktop Vurin uses " + pathName(path) + ".");
}

std::string keystrokeSection(const WaylandPermissionHelp& help) {
    const std::string offers = offeredKeystrokePathsText(help.offered);
    return "<h2>" + L("辅助功能(Wayland)", "Accessibility (Wayland)") + "</h2>\n<p>" +
           L("Wayland 下没有 XTest,合成 Ctrl+V / Return 要走下面三条路之一,各桌面提供的不同:",
             "Wayland has no XTest: Ctrl+V / Return must take one of three paths, and each "
             "desktop offers different ones:") +
           "</p>\n<ul>\n<li>" +
           L("wlroots 合成器(sway、Hyprland、river):虚拟键盘协议,无需设置。",
             "wlroots compositors (sway, Hyprland, river): the virtual keyboard protocol, "
             "nothing to set up.") +
           "</li>\n<li>" +
           L("GNOME、KDE Plasma:RemoteDesktop 门户,Vurin 每次运行时第一次录音,桌面会请你同意。",
             "GNOME, KDE Plasma: the RemoteDesktop portal; the desktop asks for your consent at "
             "the first recording each time Vurin runs.") +
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
           L("", " ") + pathInUseSentence(help) +
           L("读取焦点文字靠无障碍总线(AT-SPI),与 X11 相同:安装 at-spi2-core,并在桌面的辅助"
             "功能设置里打开辅助技术支持。",
             " Reading the focused text uses the accessibility bus (AT-SPI) as on X11: install "
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

std::string waylandKeystrokeNote(const WaylandPermissionHelp& help) {
    if (declined(help)) {
        return "❌ " + declinedText();
    }
    const WaylandKeystrokePath path = pathInUse(help);
    if (path == WaylandKeystrokePath::remoteDesktopPortal) {
        return L(
            "按键注入:RemoteDesktop 门户。Vurin 每次运行时第一次录音,桌面会请你同意"
            "(GNOME 要先勾选“允许远程交互”,“共享”才能点)。",
            "Keystrokes: the RemoteDesktop portal. The desktop asks for your consent at "
            "the first recording each time Vurin runs (on GNOME, tick \"Allow remote "
            "interaction\" first, or \"Share\" stays greyed out).");
    }
    if (path != WaylandKeystrokePath::none) {
        return L("按键注入:" + pathName(path) + "。", "Keystrokes: " + pathName(path) + ".");
    }
    const std::string offers = offeredKeystrokePathsText(help.offered);
    if (!offers.empty()) {
        return L(
            "⚠️ 无法粘贴:这个桌面提供" + offers + ",但没有一条能用(原因见日志)。",
            "⚠️ Vurin cannot paste: this desktop offers " + offers +
                ", but none of them worked (the log says why).");
    }
    return L(
        "⚠️ 无法粘贴:这个桌面没有虚拟键盘协议(wlroots)、RemoteDesktop "
        "门户(GNOME/KDE),"
        "/dev/uinput 也不可写。可以为 /dev/uinput 加一条 udev 规则并加入 input 组(注意:"
        "input 组的成员能读到所有键盘输入;做法见帮助页),或者换用有 RemoteDesktop 门户的"
        "桌面(GNOME、KDE Plasma)。",
        "⚠️ Vurin cannot paste: this desktop offers no virtual keyboard protocol (wlroots), "
        "no RemoteDesktop portal (GNOME/KDE) and no writable /dev/uinput. Give /dev/uinput "
        "a udev rule and join the input group (beware: its members can read every "
        "keyboard; see the help page), or use a desktop with the RemoteDesktop portal "
        "(GNOME, KDE Plasma).");
}

std::string waylandTriggerModeNote(const WaylandPermissionHelp& help) {
    if (!help.triggerMode) {
        return {};
    }
    const auto [toggles, why] = help.triggerMode();
    return toggles ? L("触发方式:按一下开始,再按一下结束(" + why + ")。",
                       "Trigger: press once to start and once to end (" + why + ").")
                   : L("触发方式:按住说话,松开结束(" + why + ")。",
                       "Trigger: hold to talk, release to end (" + why + ").");
}

bool waylandKeystrokesUsable(const WaylandPermissionHelp& help) {
    return pathInUse(help) != WaylandKeystrokePath::none && !declined(help);
}

std::string waylandHelpSections(const WaylandPermissionHelp& help) {
    return keystrokeSection(help) +
           triggerSection(help.bindingLines ? help.bindingLines() : CompositorBindingLines{});
}

}  // namespace vurin

#include "input/wayland_trigger_capture.h"

#include <algorithm>
#include <utility>

#include "input/key_code_map.h"
#include "input/trigger_delivery.h"
#include "input/trigger_key_names.h"
#include "support/language.h"
#include "support/log.h"
#include "support/text.h"

namespace vurin {

namespace {

const char* pathName(WaylandTriggerCapture::Path path) {
    switch (path) {
        case WaylandTriggerCapture::Path::portal:
            return "桌面全局快捷键";
        case WaylandTriggerCapture::Path::keyboards:
            return "键盘设备(evdev)";
        case WaylandTriggerCapture::Path::binding:
            return "合成器绑定(vurin --trigger)";
        case WaylandTriggerCapture::Path::none:
            break;
    }
    return "无";
}

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : "、") + item;
    }
    return text;
}

}  // namespace

std::shared_ptr<WaylandTriggerCapture> WaylandTriggerCapture::create(
    std::shared_ptr<MainQueue> mainQueue, Sources sources) {
    return std::shared_ptr<WaylandTriggerCapture>(
        new WaylandTriggerCapture(std::move(mainQueue), std::move(sources)));
}

WaylandTriggerCapture::WaylandTriggerCapture(std::shared_ptr<MainQueue> mainQueue, Sources sources)
    : mainQueue_(std::move(mainQueue)), sources_(std::move(sources)) {}

WaylandTriggerCapture::~WaylandTriggerCapture() {
    stop();
}

void WaylandTriggerCapture::setEngine(std::weak_ptr<GestureEngine> engine) {
    const std::lock_guard lock(heldLock_);
    engine_ = std::move(engine);
}

void WaylandTriggerCapture::setCallbacks(Callbacks callbacks) {
    callbacks_ = std::move(callbacks);
}

void WaylandTriggerCapture::setTapKeyCode(std::int64_t keyCode) {
    keyCode_ = keyCode;
}

void WaylandTriggerCapture::setBindingAvailable(bool available) {
    bindingAvailable_ = available;
    changed();
}

bool WaylandTriggerCapture::setupEventTap() {
    if (started_) {
        return activePath() != Path::none || shortcutsPending_;
    }
    const std::optional<int> evdevCode = evdevCodeForKeyCode(keyCode_);
    if (!evdevCode) {
        log("❌ 触发键 " + triggerKeyDisplayName(keyCode_) + " 在 Linux 上没有对应的按键");
        return false;
    }
    started_ = true;
    // GNOME runs its own shortcuts, and on the press only: a compositor's lines mean nothing
    // there.
    if (bindingAvailable_ && sources_.pressOnlyShortcuts) {
        const bool set = sources_.toggleShortcutSet && sources_.toggleShortcutSet();
        log(set ? "✅ Vurin 的 GNOME 快捷键已设(vurin --trigger toggle)"
                : "ℹ️ 可以在设置窗口里添加 Vurin 的 GNOME 快捷键(vurin --trigger "
                  "toggle)");
    } else if (bindingAvailable_) {
        const std::string key = keyName(*evdevCode);
        log("ℹ️ 合成器绑定可用:" + swayBindingLines(key, "vurin")[0] + " / " +
            swayBindingLines(key, "vurin")[1]);
    }
    if (sources_.shortcuts) {
        startShortcuts(*evdevCode);
    } else {
        startKeyboards(*evdevCode);
    }
    changed();
    return activePath() != Path::none || shortcutsPending_;
}

void WaylandTriggerCapture::startShortcuts(int evdevCode) {
    shortcutsPending_ = true;
    const std::weak_ptr<WaylandTriggerCapture> weak = weak_from_this();
    const auto onMain = [weak, queue = mainQueue_](auto method) {
        return [weak, queue, method](const auto& value) {
            queue->post([weak, method, value] {
                if (auto self = weak.lock()) {
                    ((*self).*method)(value);
                }
            });
        };
    };
    GlobalShortcuts::Handlers handlers{
        .onStarted = onMain(&WaylandTriggerCapture::shortcutsStarted),
        .onTrigger =
            [weak](bool down) {
                if (auto self = weak.lock()) {
                    self->sourceEvent(Path::portal, {}, down);
                }
            },
        .onBindingChanged = onMain(&WaylandTriggerCapture::shortcutsChanged),
        .onClosed = onMain(&WaylandTriggerCapture::shortcutsClosed)};
    sources_.shortcuts->start(keyName(evdevCode),
                              L("按住说话(Vurin 听写)", "Hold to dictate (Vurin)"),
                              std::move(handlers));
}

void WaylandTriggerCapture::shortcutsStarted(const PortalStartResult& result) {
    if (stopped_) {
        return;
    }
    // Again: the portal went away and came back with a new session. The keyboards were started
    // when it first answered or when it went, and go on.
    const bool again = shortcutsAnswered_;
    shortcutsAnswered_ = true;
    shortcutsPending_ = false;
    shortcutsOpen_ =
        result.status == PortalStatus::bound || result.status == PortalStatus::notBound;
    const std::optional<int> evdevCode = evdevCodeForKeyCode(keyCode_);
    switch (result.status) {
        case PortalStatus::bound:
            usePortal(result.binding);
            return;
        case PortalStatus::notBound:
            log("⚠️ 桌面没有为 Vurin 绑定全局快捷键(" + result.reason + ")");
            break;
        case PortalStatus::unavailable:
            log("ℹ️ 没有可用的全局快捷键门户(" + result.reason + ")");
            break;
        case PortalStatus::failed:
            log("⚠️ 全局快捷键门户出错:" + result.reason);
            break;
    }
    if (evdevCode && !again) {
        startKeyboards(*evdevCode);
    }
}

void WaylandTriggerCapture::usePortal(const GlobalShortcutsBinding& binding) {
    shortcutsBinding_ = binding;
    log("✅ 触发键:桌面全局快捷键「" +
        (binding.triggerDescription.empty() ? keyName(evdevCodeForKeyCode(keyCode_).value_or(0))
                                            : binding.triggerDescription) +
        "」(GlobalShortcuts 门户)");
    if (sources_.keyboards && !keyboardsRead_.empty()) {
        sources_.keyboards->stop();
        keyboardsRead_.clear();
    }
    setPath(Path::portal);
    showLabel();
}

void WaylandTriggerCapture::shortcutsChanged(const GlobalShortcutsBinding& binding) {
    // A session that opened without a key (or lost it) stays open: the user may bind one in the
    // desktop's settings at any time, and from then on it is the trigger.
    if (stopped_ || !shortcutsOpen_) {
        return;
    }
    if (binding.bound && !shortcutsBinding_) {
        usePortal(binding);
    } else if (binding.bound) {
        shortcutsBinding_ = binding;
        log("🔁 桌面把 Vurin 的快捷键改为「" + binding.triggerDescription + "」");
        showLabel();
    } else {
        leavePortal("桌面取消了 Vurin 的快捷键");
    }
}

void WaylandTriggerCapture::shortcutsClosed(const std::string& reason) {
    if (stopped_) {
        return;
    }
    shortcutsOpen_ = false;
    leavePortal(reason);
}

void WaylandTriggerCapture::leavePortal(const std::string& reason) {
    if (!shortcutsBinding_) {
        return;
    }
    shortcutsBinding_.reset();
    log("⚠️ 桌面全局快捷键不再可用(" + reason + "),改用其他触发来源");
    setPath(Path::none);
    if (const std::optional<int> evdevCode = evdevCodeForKeyCode(keyCode_)) {
        startKeyboards(*evdevCode);
    }
    showLabel();
}

void WaylandTriggerCapture::startKeyboards(int evdevCode) {
    keyboardsRead_.clear();
    if (sources_.keyboards) {
        const std::weak_ptr<WaylandTriggerCapture> weak = weak_from_this();
        KeyboardWatch::Handlers handlers{
            .onKey =
                [weak](const std::string& device, const KeyGrabEvent& event) {
                    if (auto self = weak.lock()) {
                        self->sourceEvent(Path::keyboards, device, event.pressed);
                    }
                },
            .onFailure =
                [weak, queue = mainQueue_](const std::string& device, const KeyGrabResult& result) {
                    queue->post([weak, device, result] {
                        if (auto self = weak.lock()) {
                            self->keyboardLost(device, result);
                        }
                    });
                },
            .onAdded =
                [weak, queue = mainQueue_](const std::string& device) {
                    queue->post([weak, device] {
                        if (auto self = weak.lock()) {
                            self->keyboardAdded(device);
                        }
                    });
                }};
        keyboardsRead_ = sources_.keyboards->start(evdevCode, std::move(handlers));
    }
    const std::string key = keyName(evdevCode);
    if (keyboardsRead_.empty()) {
        log("ℹ️ 没有可读取的键盘设备(/dev/input/event*)带有 " + key +
            (bindingAvailable_ ? ";触发键靠合成器绑定(vurin --trigger)" : ""));
        setPath(bindingAvailable_ ? Path::binding : Path::none);
        return;
    }
    // Reading a device does not take the key from anyone: say so once, as the key still types.
    log("✅ 触发键:从键盘设备读取 " + key + "(" + joined(keyboardsRead_) + ")" +
        (notSwallowedLogged_ ? "" : ";这个键不会被拦截,前台程序同样会收到它"));
    notSwallowedLogged_ = true;
    setPath(Path::keyboards);
}

void WaylandTriggerCapture::keyboardLost(const std::string& device, const KeyGrabResult& result) {
    if (stopped_) {
        return;
    }
    std::erase(keyboardsRead_, device);
    log("⚠️ " + result.reason +
        (keyboardsRead_.empty() ? ",不再从键盘设备读取触发键" : ",其余键盘设备照常"));
    const double now = mainQueue_->now();
    bool released = false;
    {
        const std::lock_guard lock(heldLock_);
        if (path_ == Path::keyboards && held_.erase(device) > 0 && held_.empty()) {
            queueMoveLocked(false, now);
            released = true;
        }
    }
    if (released) {
        scheduleDelivery();
    }
    if (keyboardsRead_.empty() && activePath() == Path::keyboards) {
        setPath(bindingAvailable_ ? Path::binding : Path::none);
    }
}

// A keyboard plugged in (or made readable) while the keyboards are watched: with none left
// before, the keyboards are the trigger again.
void WaylandTriggerCapture::keyboardAdded(const std::string& device) {
    if (stopped_ || shortcutsBinding_) {
        return;
    }
    if (std::find(keyboardsRead_.begin(), keyboardsRead_.end(), device) == keyboardsRead_.end()) {
        keyboardsRead_.push_back(device);
    }
    const bool first = activePath() != Path::keyboards;
    log("✅ 新的键盘设备:" + device +
        (first ? ",触发键改为从键盘设备读取" : ",同样读取其中的触发键"));
    if (first) {
        setPath(Path::keyboards);
    }
}

void WaylandTriggerCapture::bindingEvent(bool down, std::optional<double> at) {
    const Path path = activePath();
    if (path != Path::binding && path != Path::none) {
        if (!ignoredBindingLogged_) {
            ignoredBindingLogged_ = true;
            log(std::string("ℹ️ 收到 vurin --trigger,但触发键现在来自") +
                pathName(path) + ",已忽略,免得一次按键算两次");
        }
        return;
    }
    if (at && !(at = bindingOrder_.admit(down, *at, mainQueue_->now()))) {
        return;
    }
    if (!bindingUsed_) {
        bindingUsed_ = true;
        log("✅ 收到合成器绑定的按键(vurin --trigger)");
        if (path == Path::none) {
            setPath(Path::binding);
        }
        changed();
    }
    sourceEvent(Path::binding, {}, down, at);
}

void WaylandTriggerCapture::bindingCommandSeen(TriggerCommand command) {
    if (!bindingUsed_) {
        bindingUsed_ = true;
        log("✅ 收到合成器绑定的命令(vurin --trigger)");
        if (activePath() == Path::none) {
            setPath(Path::binding);
        }
    }
    if (command == TriggerCommand::toggle && !toggleSeen_) {
        toggleSeen_ = true;
        log("🔁 触发方式:" + describe(Mode::toggle) +
            "(快捷键只在按下时运行 vurin --trigger toggle)");
    }
    changed();
}

WaylandTriggerCapture::ModeReport WaylandTriggerCapture::mode() const {
    switch (activePath()) {
        case Path::portal:
            return {Mode::hold, L("桌面的全局快捷键报告按下和松开",
                                  "the desktop's global shortcut reports press and release")};
        case Path::keyboards:
            return {Mode::hold, L("直接读取键盘设备,按下和松开都看得到",
                                  "the keyboard devices are read, press and release alike")};
        case Path::binding:
        case Path::none:
            break;
    }
    if (toggleSeen_ || (sources_.toggleShortcutSet && sources_.toggleShortcutSet())) {
        return {Mode::toggle, L("GNOME 的自定义快捷键只在按下时运行命令,没有松开",
                                "GNOME's custom shortcuts run their command on the press only, "
                                "with no release")};
    }
    if (sources_.pressOnlyShortcuts) {
        return {Mode::toggle, L("这个桌面的快捷键只报告按下:在设置窗口里添加 Vurin 的 GNOME 快捷键",
                                "this desktop's shortcuts report only the press: add Vurin's "
                                "GNOME shortcut in the settings window")};
    }
    return {Mode::hold, L("合成器绑定在按下和松开时各运行一次 vurin --trigger",
                          "a compositor binding runs vurin --trigger on press and on release")};
}

std::string WaylandTriggerCapture::describe(Mode mode) {
    return mode == Mode::toggle ? "按一下开始,再按一下结束" : "按住说话,松开结束";
}

void WaylandTriggerCapture::sourceEvent(Path source, const std::string& device, bool down,
                                        std::optional<double> at) {
    const double now = mainQueue_->now();
    const double stamped = clampedSourceTime(at.value_or(now), now);
    {
        const std::lock_guard lock(heldLock_);
        if (source != path_) {
            return;
        }
        const bool wasHeld = !held_.empty();
        if (down) {
            held_.insert(device);
        } else {
            held_.erase(device);
        }
        if (wasHeld == !held_.empty()) {
            return;
        }
        queueMoveLocked(down, stamped);
    }
    scheduleDelivery();
}

void WaylandTriggerCapture::queueMoveLocked(bool down, double at) {
    moves_.push_back({down, at});
}

void WaylandTriggerCapture::scheduleDelivery() {
    mainQueue_->post([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->deliverMoves();
        }
    });
}

void WaylandTriggerCapture::deliverMoves() {
    std::deque<Move> moves;
    std::shared_ptr<GestureEngine> engine;
    {
        const std::lock_guard lock(heldLock_);
        moves.swap(moves_);
        engine = engine_.lock();
    }
    for (const Move& move : moves) {
        if (!engine) {
            return;
        }
        if (move.down) {
            engine->keyDown(move.at);
        } else {
            engine->keyUp(move.at);
        }
    }
}

void WaylandTriggerCapture::setPath(Path path) {
    const double now = mainQueue_->now();
    bool released = false;
    {
        const std::lock_guard lock(heldLock_);
        if (path_ == path) {
            return;
        }
        // A press held through the old source ends now: its release will never come.
        if (!held_.empty()) {
            held_.clear();
            queueMoveLocked(false, now);
            released = true;
        }
        path_ = path;
    }
    if (released) {
        scheduleDelivery();
    }
    changed();
}

void WaylandTriggerCapture::startDetectKey() {
    if (sources_.shortcuts && shortcutsBinding_ && sources_.shortcuts->canConfigure() &&
        sources_.shortcuts->configure()) {
        log("⌨️ 已请桌面打开 Vurin 快捷键的设置");
        return;
    }
    log("ℹ️ Wayland "
        "下触发键由桌面决定:请在桌面的键盘快捷键设置里更改;sway/Hyprland "
        "请在配置里绑定 vurin --trigger press / release");
    if (callbacks_.setTriggerKeyLabel) {
        callbacks_.setTriggerKeyLabel(L("请在桌面的键盘快捷键设置里更改",
                                        "Change it in the desktop's keyboard shortcut settings"));
    }
}

void WaylandTriggerCapture::stop() {
    if (stopped_) {
        return;
    }
    stopped_ = true;
    if (sources_.shortcuts) {
        sources_.shortcuts->stop();
    }
    if (sources_.keyboards) {
        sources_.keyboards->stop();
    }
}

WaylandTriggerCapture::Path WaylandTriggerCapture::activePath() const {
    const std::lock_guard lock(heldLock_);
    return path_;
}

KeyGrabAccess WaylandTriggerCapture::access() const {
    switch (activePath()) {
        case Path::portal:
        case Path::keyboards:
            return KeyGrabAccess::granted;
        case Path::binding:
            return bindingUsed_ ? KeyGrabAccess::granted : KeyGrabAccess::bindingOnly;
        case Path::none:
            break;
    }
    // Before the sources start nothing is known yet, and they start only once this lets the
    // input setup through: any source that might deliver is reason enough to try.
    if (!started_ && (bindingAvailable_ || sources_.shortcuts || sources_.keyboards)) {
        return KeyGrabAccess::bindingOnly;
    }
    return shortcutsPending_ ? KeyGrabAccess::bindingOnly : KeyGrabAccess::noTriggerSource;
}

std::string WaylandTriggerCapture::triggerKeyLabel() const {
    if (shortcutsBinding_ && !shortcutsBinding_->triggerDescription.empty()) {
        return L("当前:" + shortcutsBinding_->triggerDescription + "(桌面快捷键)",
                 "Current: " + shortcutsBinding_->triggerDescription + " (desktop shortcut)");
    }
    return triggerKeyLabelText(keyCode_);
}

int WaylandTriggerCapture::bindingEvdevCode() const {
    return evdevCodeForKeyCode(keyCode_).value_or(183);
}

std::string WaylandTriggerCapture::bindingKeyName() const {
    return keyName(evdevCodeForKeyCode(keyCode_).value_or(0));
}

std::string WaylandTriggerCapture::keyName(int evdevCode) const {
    if (sources_.keyName) {
        if (auto name = sources_.keyName(evdevCode)) {
            return *name;
        }
    }
    return "F13";
}

void WaylandTriggerCapture::showLabel() {
    if (callbacks_.setTriggerKeyLabel) {
        callbacks_.setTriggerKeyLabel(triggerKeyLabel());
    }
}

void WaylandTriggerCapture::changed() {
    if (callbacks_.sourcesChanged) {
        callbacks_.sourcesChanged();
    }
}

}  // namespace vurin

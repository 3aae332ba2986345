#include "platform/linux/remote_desktop_keystrokes.h"

#include <gio/gio.h>

#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/evdev_chords.h"
#include "platform/linux/held_modifiers.h"
#include "platform/linux/portal_common.h"
#include "platform/linux/remote_desktop_session.h"
#include "platform/linux/text_keysyms.h"
#include "support/log.h"
#include "support/text.h"

namespace vurin {

namespace {

constexpr int kEventTimeoutMs = 5000;
// A modifier the user still holds joins the portal's keys (the desktop merges its keyboards), and
// on GNOME a release sent through the portal does not let it go: a job waits this long at most
// for the user to let go, looking this often.
constexpr gint64 kModifierWaitUs = 500 * 1000;
constexpr guint kModifierLookMs = 20;
constexpr gint64 kShutdownWaitUs = 500 * 1000;

struct Event {
    bool keysym;  // else an evdev key code
    std::int32_t value;
    bool pressed;
};

// One request: its units (a stroke, or a character), each a run of events the portal must take
// in order. A unit counts as sent once the portal has taken its last event.
struct Job {
    std::vector<std::vector<Event>> units;
    std::size_t total = 0;  // units asked for; fewer go when the text cannot all be typed
    std::string why;
    std::chrono::microseconds interval{0};
    KeystrokeSender::Done done;
    gint64 consentDeadline = 0;  // monotonic microseconds
    std::size_t unit = 0;
    std::size_t event = 0;
    std::vector<Event> down;  // keys the portal holds down for this job
    bool pausing = false;
    gint64 modifierDeadline = 0;  // monotonic microseconds; 0 until the job first looks
};

// Text goes only as far as the first character the map cannot type: what arrives is then the
// start of the text, never the text with holes in it.
void limitToTypeable(Job& job, const std::string& text,
                     const std::optional<std::set<std::uint32_t>>& typeable) {
    if (!typeable) {
        return;
    }
    for (std::size_t unit = 0; unit < job.units.size(); ++unit) {
        const auto keysym = static_cast<std::uint32_t>(job.units[unit].front().value);
        if (!typeable->contains(keysym)) {
            const std::string character(
                utf8Prefix(text, unit + 1).substr(utf8Prefix(text, unit).size()));
            job.why = "这个桌面的键盘布局打不出「" + character +
                      "」,RemoteDesktop 门户只能输入布局里有的字符";
            job.units.resize(unit);
            return;
        }
    }
}

}  // namespace

struct RemoteDesktopKeystrokes::Impl {
    TypeableKeysyms typeable;
    mutable std::mutex lock;
    State state = State::idle;     // under lock
    std::optional<bool> keyboard;  // under lock
    GMainContext* context = g_main_context_new();
    GMainLoop* loop = g_main_loop_new(context, FALSE);
    std::thread thread;

    // Only on the portal thread.
    std::unique_ptr<RemoteDesktopSession> session;
    std::deque<std::shared_ptr<Job>> jobs;
    bool running = false;
    bool modifiersStuck = false;  // said once, not waited for again while they stay down
    int pendingCalls = 0;
    GCancellable* cancellable = g_cancellable_new();
    guint consentTimer = 0;

    explicit Impl(std::string address) {
        session = std::make_unique<RemoteDesktopSession>(
            context, std::move(address),
            RemoteDesktopSession::Callbacks{
                .changed = [this](RemoteDesktopSession::Phase phase) { phaseChanged(phase); },
                .probed =
                    [this](std::optional<bool> offered) {
                        const std::lock_guard guard(lock);
                        keyboard = offered;
                    }});
        thread = std::thread([this] {
            g_main_context_push_thread_default(context);
            g_main_loop_run(loop);
            g_main_context_pop_thread_default(context);
        });
    }

    ~Impl() {
        portal::attachIdle(context, [this] { shutdown(); });
        thread.join();
        session.reset();
        g_object_unref(cancellable);
        g_main_loop_unref(loop);
        g_main_context_unref(context);
    }

    static State stateOf(RemoteDesktopSession::Phase phase) {
        switch (phase) {
            case RemoteDesktopSession::Phase::idle:
                return State::idle;
            case RemoteDesktopSession::Phase::starting:
                return State::starting;
            case RemoteDesktopSession::Phase::started:
                return State::started;
            case RemoteDesktopSession::Phase::denied:
                return State::denied;
            case RemoteDesktopSession::Phase::failed:
                break;
        }
        return State::failed;
    }

    void phaseChanged(RemoteDesktopSession::Phase phase) {
        {
            const std::lock_guard guard(lock);
            state = stateOf(phase);
        }
        switch (phase) {
            case RemoteDesktopSession::Phase::started:
                runNextJob();
                break;
            case RemoteDesktopSession::Phase::denied:
            case RemoteDesktopSession::Phase::failed:
                finishAll();
                break;
            case RemoteDesktopSession::Phase::idle:
                // The session went away under a running job: it ends with what was taken.
                if (running && !jobs.empty()) {
                    finishJob("会话已结束");
                }
                break;
            case RemoteDesktopSession::Phase::starting:
                break;
        }
    }

    // ---------------------------------------------------------------------------------------
    // Requests wait for the session, at most kConsentWaitSeconds each.

    void enqueue(std::shared_ptr<Job> job) {
        // Nothing to send asks the user nothing.
        if (job->units.empty()) {
            job->done({.sent = 0, .total = job->total, .why = job->why});
            return;
        }
        if (session->phase() == RemoteDesktopSession::Phase::denied) {
            log("❌ RemoteDesktop 门户:用户拒绝了键盘控制,按键未发送");
            job->done({.sent = 0, .total = job->total});
            return;
        }
        job->consentDeadline = g_get_monotonic_time() + G_USEC_PER_SEC * kConsentWaitSeconds;
        jobs.push_back(std::move(job));
        if (session->phase() == RemoteDesktopSession::Phase::started) {
            runNextJob();
            return;
        }
        session->start();
        armConsentTimer();
    }

    void armConsentTimer() {
        if (consentTimer || session->phase() != RemoteDesktopSession::Phase::starting) {
            return;
        }
        GSource* timer = g_timeout_source_new_seconds(1);
        g_source_set_callback(
            timer,
            [](gpointer data) -> gboolean {
                auto* impl = static_cast<Impl*>(data);
                impl->consentTimer = 0;
                impl->expireWaiting();
                impl->armConsentTimer();
                return G_SOURCE_REMOVE;
            },
            this, nullptr);
        consentTimer = g_source_attach(timer, context);
        g_source_unref(timer);
    }

    void expireWaiting() {
        if (session->phase() != RemoteDesktopSession::Phase::starting) {
            return;
        }
        const gint64 now = g_get_monotonic_time();
        while (!jobs.empty() && jobs.front()->consentDeadline <= now) {
            log("❌ RemoteDesktop 门户:" + std::to_string(kConsentWaitSeconds) +
                " 秒内没有得到桌面的许可,按键未发送");
            const auto job = jobs.front();
            jobs.pop_front();
            job->done({.sent = 0, .total = job->total});
        }
    }

    void finishAll() {
        while (!jobs.empty()) {
            const auto job = jobs.front();
            jobs.pop_front();
            job->done({.sent = job->unit, .total = job->total, .why = job->why});
        }
        running = false;
    }

    // ---------------------------------------------------------------------------------------
    // Events. xdg-desktop-portal handles method calls on a pool of threads, so calls sent
    // together reach the desktop in any order (measured: a letter arrived a dozen places
    // late). Each event therefore goes once the portal has answered the one before (which it
    // does as soon as it has passed it on), with nothing else in between.

    void runNextJob() {
        if (running || jobs.empty() || session->phase() != RemoteDesktopSession::Phase::started) {
            return;
        }
        running = true;
        sendNext();
    }

    // Whether `job` is still the one being sent: a job that ended (its session lost, the
    // desktop declined) may still have an answer or a pause on the way.
    bool current(const std::shared_ptr<Job>& job) const {
        return running && !jobs.empty() && jobs.front() == job;
    }

    void sendNext() {
        const std::shared_ptr<Job> held = jobs.front();
        Job& job = *held;
        if (job.unit == job.units.size()) {
            finishJob("");
            return;
        }
        if (job.event == 0 && job.unit > 0 && job.interval.count() > 0 && !job.pausing) {
            job.pausing = true;
            GSource* pause =
                g_timeout_source_new(static_cast<guint>((job.interval.count() + 999) / 1000));
            using Resume = std::pair<Impl*, std::weak_ptr<Job>>;
            g_source_set_callback(
                pause,
                [](gpointer data) -> gboolean {
                    const auto& [impl, weak] = *static_cast<Resume*>(data);
                    if (const auto job = weak.lock(); job && impl->current(job)) {
                        impl->sendNext();
                    }
                    return G_SOURCE_REMOVE;
                },
                new Resume(this, held), [](gpointer data) { delete static_cast<Resume*>(data); });
            g_source_attach(pause, context);
            g_source_unref(pause);
            return;
        }
        job.pausing = false;
        if (job.unit == 0 && job.event == 0 && modifiersHeld(held)) {
            return;
        }
        notify(held, job.units[job.unit][job.event], [this](GError* error) {
            if (error) {
                log("❌ RemoteDesktop 门户:按键事件被拒绝:" + portal::messageOf(error));
                releaseHeld();
                return;
            }
            Job& sending = *jobs.front();
            const Event& sent = sending.units[sending.unit][sending.event];
            track(sending, sent);
            if (++sending.event == sending.units[sending.unit].size()) {
                sending.event = 0;
                ++sending.unit;
            }
            sendNext();
        });
    }

    // True while `job` waits for the user's modifiers to come up (it is sent again then, or at the
    // end of the wait, as it is). Only keyboards this user may read tell; others say nothing.
    bool modifiersHeld(const std::shared_ptr<Job>& job) {
        const gint64 now = g_get_monotonic_time();
        if (job->modifierDeadline == 0) {
            job->modifierDeadline = now + kModifierWaitUs;
        }
        const std::vector<int> held = heldModifierKeys();
        if (held.empty()) {
            modifiersStuck = false;
            return false;
        }
        if (now >= job->modifierDeadline || modifiersStuck) {
            if (!modifiersStuck) {
                modifiersStuck = true;
                log("⚠️ RemoteDesktop 门户:修饰键 0.5 "
                    "秒内没有松开,按键照常发送(可能带上修饰键)");
            }
            return false;
        }
        using Resume = std::pair<Impl*, std::weak_ptr<Job>>;
        GSource* look = g_timeout_source_new(kModifierLookMs);
        g_source_set_callback(
            look,
            [](gpointer data) -> gboolean {
                const auto& [impl, weak] = *static_cast<Resume*>(data);
                if (const auto waiting = weak.lock(); waiting && impl->current(waiting)) {
                    impl->sendNext();
                }
                return G_SOURCE_REMOVE;
            },
            new Resume(this, job), [](gpointer data) { delete static_cast<Resume*>(data); });
        g_source_attach(look, context);
        g_source_unref(look);
        return true;
    }

    static void track(Job& job, const Event& event) {
        if (event.pressed) {
            job.down.push_back(event);
            return;
        }
        std::erase_if(job.down, [&](const Event& held) {
            return held.keysym == event.keysym && held.value == event.value;
        });
    }

    // A failed job lets go of what it pressed (best effort), so that no modifier stays held.
    void releaseHeld() {
        Job& job = *jobs.front();
        if (job.down.empty() || session->handle().empty()) {
            finishJob("");
            return;
        }
        Event release = job.down.back();
        job.down.pop_back();
        release.pressed = false;
        notify(jobs.front(), release, [this](GError*) { releaseHeld(); });
    }

    // One event of `job`; `answered` runs with the portal's answer while the job is current.
    void notify(const std::shared_ptr<Job>& job, const Event& event,
                std::function<void(GError*)> answered) {
        struct Call {
            Impl* impl;
            std::weak_ptr<Job> job;
            std::function<void(GError*)> answered;
        };
        ++pendingCalls;
        g_dbus_connection_call(
            session->bus(), portal::kName, portal::kPath, RemoteDesktopSession::kInterface,
            event.keysym ? "NotifyKeyboardKeysym" : "NotifyKeyboardKeycode",
            g_variant_new("(oa{sv}iu)", session->handle().c_str(), nullptr, event.value,
                          event.pressed ? 1U : 0U),
            G_VARIANT_TYPE_UNIT, G_DBUS_CALL_FLAGS_NONE, kEventTimeoutMs, cancellable,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                const std::unique_ptr<Call> call(static_cast<Call*>(data));
                GError* error = nullptr;
                GVariant* reply =
                    g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
                --call->impl->pendingCalls;
                if (reply) {
                    g_variant_unref(reply);
                }
                const auto job = call->job.lock();
                if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED) && job &&
                    call->impl->current(job)) {
                    call->answered(error);
                }
                g_clear_error(&error);
            },
            new Call{this, job, std::move(answered)});
    }

    void finishJob(const std::string& why) {
        if (!why.empty()) {
            log("❌ RemoteDesktop 门户:" + why + ",其余按键未发送");
        }
        const auto job = jobs.front();
        jobs.pop_front();
        running = false;
        job->done({.sent = job->unit, .total = job->total, .why = job->why});
        runNextJob();
    }

    // ---------------------------------------------------------------------------------------

    void shutdown() {
        jobs.clear();
        running = false;
        g_cancellable_cancel(cancellable);
        session->shutdown();
        // Cancelled calls come back through this context; they must not outlive it.
        const gint64 deadline = g_get_monotonic_time() + kShutdownWaitUs;
        while (pendingCalls > 0 && g_get_monotonic_time() < deadline) {
            g_main_context_iteration(context, FALSE);
        }
        g_main_loop_quit(loop);
    }
};

RemoteDesktopKeystrokes::RemoteDesktopKeystrokes(std::string busAddress, TypeableKeysyms typeable)
    : impl_(std::make_unique<Impl>(std::move(busAddress))) {
    impl_->typeable = std::move(typeable);
    portal::attachIdle(impl_->context, [impl = impl_.get()] { impl->session->probe(); });
}

RemoteDesktopKeystrokes::~RemoteDesktopKeystrokes() = default;

RemoteDesktopKeystrokes::State RemoteDesktopKeystrokes::state() const {
    const std::lock_guard guard(impl_->lock);
    return impl_->state;
}

std::optional<bool> RemoteDesktopKeystrokes::offersKeyboard() const {
    const std::lock_guard guard(impl_->lock);
    return impl_->keyboard;
}

void RemoteDesktopKeystrokes::prepare() {
    portal::attachIdle(impl_->context, [impl = impl_.get()] { impl->session->start(); });
}

void RemoteDesktopKeystrokes::send(Keystroke keystroke, std::size_t count,
                                   std::chrono::microseconds interval, Done done) {
    auto job = std::make_shared<Job>();
    std::vector<Event> stroke;
    for (const auto& [code, down] : evdevKeyChanges(keystroke)) {
        stroke.push_back({false, code, down});
    }
    job->units.assign(count, stroke);
    job->total = count;
    job->interval = interval;
    job->done = std::move(done);
    portal::attachIdle(impl_->context, [impl = impl_.get(), job] { impl->enqueue(job); });
}

void RemoteDesktopKeystrokes::type(const std::string& text, Done done) {
    const std::optional<std::vector<std::uint32_t>> keysyms = keysymsForText(text);
    if (!keysyms) {
        log("❌ RemoteDesktop 门户:文本含无法按键输入的字符(控制字符或无效 UTF-8),未输入");
        done({.sent = 0, .total = codePointCount(text)});
        return;
    }
    auto job = std::make_shared<Job>();
    for (const std::uint32_t keysym : *keysyms) {
        const auto value = static_cast<std::int32_t>(keysym);
        job->units.push_back({{true, value, true}, {true, value, false}});
    }
    job->done = std::move(done);
    job->total = job->units.size();
    // The keyboard map is read on the portal's thread: it is a round trip to the compositor.
    portal::attachIdle(impl_->context, [impl = impl_.get(), job, text] {
        if (impl->typeable) {
            limitToTypeable(*job, text, impl->typeable());
        }
        impl->enqueue(job);
    });
}

}  // namespace vurin

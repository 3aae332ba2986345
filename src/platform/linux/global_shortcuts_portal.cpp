#include "platform/linux/global_shortcuts_portal.h"

#include <gio/gio.h>

#include "platform/linux/global_shortcuts_run.h"
#include "support/log.h"

namespace vurin {

namespace {

// The thread that runs a portal's loop, so that calls from its own handlers are recognised.
thread_local const void* portalThreadOf = nullptr;

}  // namespace

GlobalShortcutsPortal::GlobalShortcutsPortal(std::string busAddress)
    : impl_(std::make_unique<Impl>()) {
    impl_->address = std::move(busAddress);
}

GlobalShortcutsPortal::~GlobalShortcutsPortal() {
    stop();
}

void GlobalShortcutsPortal::start(std::string preferredTrigger, std::string description,
                                  Handlers handlers) {
    if (portalThreadOf == impl_.get()) {
        log("⚠️ GlobalShortcuts 门户:不能在它自己的回调里重新开始会话");
        return;
    }
    stop();
    GMainContext* context = g_main_context_new();
    auto run = std::make_unique<Run>(*impl_, context, std::move(preferredTrigger),
                                     std::move(description), std::move(handlers));
    impl_->version = 0;
    impl_->sessionOpen = false;
    impl_->stopped = false;
    std::lock_guard guard(impl_->lock);
    impl_->context = context;
    impl_->thread = std::thread([impl = impl_.get(), context, run = std::move(run)]() mutable {
        portalThreadOf = impl;
        g_main_context_push_thread_default(context);
        impl->run = run.get();
        run->begin();
        g_main_loop_run(run->loop);
        impl->run = nullptr;
        run.reset();
        g_main_context_pop_thread_default(context);
        portalThreadOf = nullptr;
    });
}

bool GlobalShortcutsPortal::canConfigure() const {
    return impl_->version >= 2 && impl_->sessionOpen;
}

bool GlobalShortcutsPortal::configure() {
    if (!impl_->sessionOpen) {
        log("⚠️ 无法打开桌面的快捷键设置:没有打开的 GlobalShortcuts 会话");
        return false;
    }
    if (impl_->version < 2) {
        log("⚠️ 无法打开桌面的快捷键设置:桌面门户的 GlobalShortcuts 版本 " +
            std::to_string(impl_->version) + " 不支持(需要 2)");
        return false;
    }
    impl_->post([impl = impl_.get()] {
        if (impl->run) {
            impl->run->configure();
        }
    });
    return true;
}

void GlobalShortcutsPortal::stop() {
    Impl& impl = *impl_;
    impl.stopped = true;
    impl.sessionOpen = false;
    const auto shutdown = [&impl] {
        if (impl.run) {
            impl.run->shutdown();
        }
    };
    if (portalThreadOf == &impl) {
        impl.post(shutdown);
        return;
    }
    GMainContext* context = nullptr;
    std::thread thread;
    {
        std::lock_guard guard(impl.lock);
        context = std::exchange(impl.context, nullptr);
        thread = std::move(impl.thread);
    }
    if (!thread.joinable()) {
        return;
    }
    portal::attachIdle(context, shutdown);
    thread.join();
    g_main_context_unref(context);
}

}  // namespace vurin

#include "platform/linux/pulse_connection.h"

namespace vurin {

void PulseOperation::reset(pa_operation* operation) {
    if (operation_ != nullptr) {
        pa_operation_cancel(operation_);
        pa_operation_unref(operation_);
    }
    operation_ = operation;
}

PulseConnection::PulseConnection() : mainloop_(pa_threaded_mainloop_new()) {
    if (mainloop_ == nullptr) {
        return;
    }
    PulseProplist properties;
    pa_proplist_sets(properties.get(), PA_PROP_APPLICATION_NAME, "Vurin");
    pa_proplist_sets(properties.get(), PA_PROP_APPLICATION_ID, "com.vurin.app");
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(mainloop_), "Vurin",
                                            properties.get());
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, &PulseConnection::onState, this);
    }
}

PulseConnection::~PulseConnection() {
    if (mainloop_ == nullptr) {
        return;
    }
    if (context_ != nullptr) {
        PulseMainloopLock lock(mainloop_);
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
}

std::shared_ptr<PulseConnection> PulseConnection::connect(std::string& error,
                                                          std::chrono::milliseconds limit) {
    std::shared_ptr<PulseConnection> connection(new PulseConnection());
    if (connection->context_ == nullptr) {
        error = "cannot create a sound server context";
        return nullptr;
    }
    {
        PulseMainloopLock lock(connection->mainloop_);
        // An application has no business starting a sound server of its own; the desktop's
        // server (or its socket activation) is the one to use.
        if (pa_context_connect(connection->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) <
            0) {
            error = connection->lastError();
            return nullptr;
        }
    }
    if (pa_threaded_mainloop_start(connection->mainloop_) < 0) {
        error = "cannot start the sound server thread";
        return nullptr;
    }
    if (!connection->waitFor([&] { return connection->ready_.load(); }, limit)) {
        PulseMainloopLock lock(connection->mainloop_);
        error = connection->hasFailed() ? connection->lastError() : "sound server timed out";
        return nullptr;
    }
    return connection;
}

std::string PulseConnection::lastError() const {
    return pa_strerror(pa_context_errno(context_));
}

void PulseConnection::notify() {
    std::lock_guard guard(waitMutex_);
    waitCondition_.notify_all();
}

bool PulseConnection::waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    std::unique_lock guard(waitMutex_);
    waitCondition_.wait_for(guard, limit, [&] { return done() || failed_.load(); });
    return done();
}

void PulseConnection::onState(pa_context* context, void* self) {
    auto* connection = static_cast<PulseConnection*>(self);
    switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            connection->ready_.store(true);
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            connection->ready_.store(false);
            connection->failed_.store(true);
            break;
        default:
            return;
    }
    connection->notify();
}

}  // namespace vurin

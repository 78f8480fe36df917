#include "platform/linux/PulseConnection.h"

#include "storage/VellLog.h"

#include <pulse/pulseaudio.h>

namespace {

const VellLog& logger()
{
    return VellLog::audio();
}

} // namespace

PulseConnection::PulseConnection(std::function<void(pa_context*)> onReady, std::function<void()> onLost)
    : m_loop(pa_threaded_mainloop_new()), m_onReady(std::move(onReady)), m_onLost(std::move(onLost))
{
    pa_threaded_mainloop_set_name(m_loop, "vell-pulse");
    std::lock_guard lock(*this);
    pa_threaded_mainloop_start(m_loop);
    connect();
}

PulseConnection::~PulseConnection()
{
    {
        std::lock_guard lock(*this);
        m_onReady = nullptr;
        m_onLost = nullptr;
        if (m_retry) {
            pa_threaded_mainloop_get_api(m_loop)->time_free(m_retry);
            m_retry = nullptr;
        }
        dropContext();
    }
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
}

void PulseConnection::lock() const
{
    pa_threaded_mainloop_lock(m_loop);
}

void PulseConnection::unlock() const
{
    pa_threaded_mainloop_unlock(m_loop);
}

pa_context* PulseConnection::context() const
{
    return m_ready ? m_context : nullptr;
}

void PulseConnection::connect()
{
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Vell");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "org.brightfold.Vell");
    m_context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_loop), "Vell", properties);
    pa_proplist_free(properties);
    if (!m_context) {
        scheduleRetry();
        return;
    }
    pa_context_set_state_callback(
        m_context, [](pa_context*, void* self) { static_cast<PulseConnection*>(self)->onStateChanged(); }, this);
    // Without a server "no input" must be known at once, not after a spawn attempt.
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 && m_context)
        lose();
}

void PulseConnection::onStateChanged()
{
    switch (pa_context_get_state(m_context)) {
    case PA_CONTEXT_READY:
        m_ready = true;
        m_reportedAbsence = false;
        logger().info(QStringLiteral("sound server connected"));
        if (m_onReady)
            m_onReady(m_context);
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        lose();
        break;
    default:
        break;
    }
}

void PulseConnection::lose()
{
    const bool wasReady = m_ready;
    const QString reason = QString::fromUtf8(pa_strerror(pa_context_errno(m_context)));
    dropContext();
    if (wasReady) {
        logger().error(QStringLiteral("sound server connection lost: %1").arg(reason));
        if (m_onLost)
            m_onLost();
    } else if (!m_reportedAbsence) {
        logger().error(QStringLiteral("no sound server: %1").arg(reason));
        m_reportedAbsence = true;
    }
    scheduleRetry();
}

void PulseConnection::scheduleRetry()
{
    timeval when;
    pa_gettimeofday(&when);
    pa_timeval_add(&when, pa_usec_t(kRetryIntervalMs) * PA_USEC_PER_MSEC);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
    m_retry = api->time_new(
        api, &when,
        [](pa_mainloop_api* api, pa_time_event* event, const timeval*, void* data) {
            auto* self = static_cast<PulseConnection*>(data);
            api->time_free(event);
            self->m_retry = nullptr;
            self->connect();
        },
        this);
}

void PulseConnection::dropContext()
{
    if (!m_context)
        return;
    m_ready = false;
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
}

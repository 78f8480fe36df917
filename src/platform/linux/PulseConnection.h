#pragma once

#include <functional>

struct pa_context;
struct pa_threaded_mainloop;
struct pa_time_event;

// A connection to the sound server (PulseAudio, or PipeWire's PulseAudio
// service) on libpulse's threaded main loop, which runs on a thread of its own.
//
// Every libpulse call on the context and its streams is made with the loop
// locked (lock() and unlock(), so std::lock_guard works) or from a libpulse
// callback, which runs on the loop's thread with the lock held. The connection
// never starts a server; while there is none it tries again every
// kRetryIntervalMs. `onReady` runs on the loop's thread whenever the context
// becomes ready, `onLost` whenever a ready context is lost.
class PulseConnection
{
public:
    static constexpr int kRetryIntervalMs = 2000;

    explicit PulseConnection(std::function<void(pa_context*)> onReady = {}, std::function<void()> onLost = {});
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;
    ~PulseConnection();

    void lock() const;
    void unlock() const;

    // The ready context, null while there is none. Lock held.
    pa_context* context() const;

private:
    void connect();
    void onStateChanged();
    void lose();
    void scheduleRetry();
    void dropContext();

    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_time_event* m_retry = nullptr;
    bool m_ready = false;
    bool m_reportedAbsence = false;
    std::function<void(pa_context*)> m_onReady;
    std::function<void()> m_onLost;
};

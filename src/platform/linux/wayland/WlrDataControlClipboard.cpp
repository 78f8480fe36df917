#include "platform/linux/wayland/WlrDataControlClipboard.h"

#include "platform/linux/wayland/WaylandConnection.h"

#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#include <wlr-data-control-unstable-v1-client.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kTextTypes[] = {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "TEXT", "STRING"};
// A reader that takes nothing for this long is given up, so its data is not held forever.
constexpr std::chrono::seconds kStalledTransfer{10};

// One type's data from a pipe, whole, or none by `deadline`.
std::optional<QByteArray> readWhole(int fd, Clock::time_point deadline)
{
    QByteArray data;
    char buffer[65536];
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return std::nullopt;
        pollfd descriptor{fd, POLLIN, 0};
        const int ready = ::poll(&descriptor, 1, int(left));
        if (ready < 0 && errno != EINTR)
            return std::nullopt;
        if (ready <= 0)
            continue;
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count == 0)
            return data;
        if (count > 0)
            data.append(buffer, count);
        else if (errno != EINTR && errno != EAGAIN)
            return std::nullopt;
    }
}

// Reads the pipes in order and closes them; a type that does not arrive in
// time is left out, and the rest still get their turn within `whole`.
ClipboardContents readAll(const QList<std::pair<QString, int>>& pipes, WlrDataControlClipboard::Limits limits)
{
    const Clock::time_point end = Clock::now() + limits.whole;
    ClipboardContents contents;
    for (const auto& [type, fd] : pipes) {
        if (Clock::now() < end) {
            const std::optional<QByteArray> data = readWhole(fd, std::min(Clock::now() + limits.perType, end));
            if (data && !data->isEmpty())
                contents.append({type, *data});
        }
        ::close(fd);
    }
    return contents;
}

// write() that turns a reader gone away into EPIPE without raising SIGPIPE,
// which would end the whole program.
ssize_t writeWithoutSigpipe(int fd, const char* data, size_t size)
{
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    sigset_t pending;
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE);
    const ssize_t written = ::write(fd, data, size);
    const int error = errno;
    if (written < 0 && error == EPIPE && !alreadyPending) {
        const timespec now{};
        sigtimedwait(&pipeSignal, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return written;
}

} // namespace

// Writes one type's data into a reader's pipe as fast as the reader takes it.
class WlrDataControlClipboard::Transfer : public QObject
{
public:
    Transfer(int fd, QByteArray data, QObject* parent)
        : QObject(parent), m_fd(fd), m_data(std::move(data)), m_writable(fd, QSocketNotifier::Write)
    {
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
        connect(&m_writable, &QSocketNotifier::activated, this, &Transfer::writeSome);
        m_stalled.setSingleShot(true);
        m_stalled.setInterval(kStalledTransfer);
        connect(&m_stalled, &QTimer::timeout, this, &Transfer::finish);
        m_stalled.start();
    }
    ~Transfer() override { ::close(m_fd); }

private:
    void writeSome()
    {
        while (m_written < m_data.size()) {
            const ssize_t count =
                writeWithoutSigpipe(m_fd, m_data.constData() + m_written, size_t(m_data.size() - m_written));
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0 && errno == EAGAIN) {
                m_stalled.start();
                return; // the pipe is full: the rest when the reader has taken some
            }
            if (count < 0)
                break; // the reader went away
            m_written += count;
        }
        finish();
    }
    void finish()
    {
        m_writable.setEnabled(false);
        deleteLater();
    }

    const int m_fd;
    const QByteArray m_data;
    qsizetype m_written = 0;
    QSocketNotifier m_writable;
    QTimer m_stalled;
};

WlrDataControlClipboard::WlrDataControlClipboard(WaylandConnection& connection, Mode mode, Limits limits,
                                                 QObject* parent)
    : QObject(parent), m_connection(connection), m_mode(mode), m_limits(limits)
{
    const uint32_t needed = mode == Mode::primarySelection ? 2 : 1;
    if (connection.version(QStringLiteral("zwlr_data_control_manager_v1")) < needed || !connection.seat())
        return;
    m_manager = static_cast<zwlr_data_control_manager_v1*>(connection.bind(zwlr_data_control_manager_v1_interface, 2));
    if (!m_manager)
        return;
    static const zwlr_data_control_device_v1_listener listener = {
        .data_offer = &onDataOffer,
        .selection = &onSelection,
        .finished = &onFinished,
        .primary_selection = &onPrimarySelection,
    };
    m_device = zwlr_data_control_manager_v1_get_data_device(m_manager, connection.seat());
    zwlr_data_control_device_v1_add_listener(m_device, &listener, this);
    // The device learns the current selection as it is created.
    connection.roundtrip();
}

WlrDataControlClipboard::~WlrDataControlClipboard()
{
    dropSource();
    if (m_current)
        zwlr_data_control_offer_v1_destroy(m_current->offer);
    for (zwlr_data_control_offer_v1* offer : m_announced.keys())
        zwlr_data_control_offer_v1_destroy(offer);
    if (m_device)
        zwlr_data_control_device_v1_destroy(m_device);
    if (m_manager)
        zwlr_data_control_manager_v1_destroy(m_manager);
    m_connection.flush();
}

void WlrDataControlClipboard::onDataOffer(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer)
{
    static const zwlr_data_control_offer_v1_listener listener = {.offer = &onOfferType};
    static_cast<WlrDataControlClipboard*>(data)->m_announced.insert(offer, {});
    zwlr_data_control_offer_v1_add_listener(offer, &listener, data);
}

void WlrDataControlClipboard::onOfferType(void* data, zwlr_data_control_offer_v1* offer, const char* type)
{
    auto* self = static_cast<WlrDataControlClipboard*>(data);
    if (auto it = self->m_announced.find(offer); it != self->m_announced.end())
        it->append(QString::fromUtf8(type));
}

void WlrDataControlClipboard::onSelection(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer)
{
    auto* self = static_cast<WlrDataControlClipboard*>(data);
    if (self->m_mode == Mode::clipboard)
        self->selectionChanged(offer);
    else
        self->ignore(offer);
}

void WlrDataControlClipboard::onPrimarySelection(void* data, zwlr_data_control_device_v1*,
                                                 zwlr_data_control_offer_v1* offer)
{
    auto* self = static_cast<WlrDataControlClipboard*>(data);
    if (self->m_mode == Mode::primarySelection)
        self->selectionChanged(offer);
    else
        self->ignore(offer);
}

void WlrDataControlClipboard::onFinished(void* data, zwlr_data_control_device_v1* device)
{
    // The seat is gone; the device answers nothing more.
    auto* self = static_cast<WlrDataControlClipboard*>(data);
    zwlr_data_control_device_v1_destroy(device);
    self->m_device = nullptr;
}

void WlrDataControlClipboard::selectionChanged(zwlr_data_control_offer_v1* offer)
{
    ++m_changeCount;
    if (m_current)
        zwlr_data_control_offer_v1_destroy(m_current->offer);
    m_current.reset();
    if (offer)
        m_current = Offer{offer, m_announced.take(offer)};
    if (m_prefetch)
        prefetch(); // what was read is out of date
}

void WlrDataControlClipboard::ignore(zwlr_data_control_offer_v1* offer)
{
    if (!offer)
        return;
    m_announced.remove(offer);
    zwlr_data_control_offer_v1_destroy(offer);
}

QList<std::pair<QString, int>> WlrDataControlClipboard::requestAll()
{
    QList<std::pair<QString, int>> pipes;
    if (!m_current || !m_connection.isConnected())
        return pipes;
    for (const QString& type : std::as_const(m_current->types)) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            break;
        // The request carries a copy of the write end; ours must go, or the read would never end.
        zwlr_data_control_offer_v1_receive(m_current->offer, type.toUtf8().constData(), ends[1]);
        ::close(ends[1]);
        pipes.append({type, ends[0]});
    }
    m_connection.flush();
    return pipes;
}

ClipboardContents WlrDataControlClipboard::snapshot()
{
    std::optional<Prefetch> prefetched = std::exchange(m_prefetch, std::nullopt);
    // Our own contents are answered here; reading them would wait for ourselves.
    if (m_source)
        return m_own;
    if (prefetched && prefetched->changeCount == m_changeCount)
        return prefetched->contents.get(); // ready, or within its deadline
    return readAll(requestAll(), m_limits);
}

void WlrDataControlClipboard::prefetch()
{
    m_prefetch.reset();
    if (m_source || !m_current)
        return;
    // Detached, so a read that is no longer wanted costs no wait; it ends by its deadline.
    std::packaged_task<ClipboardContents()> read(
        [pipes = requestAll(), limits = m_limits] { return readAll(pipes, limits); });
    m_prefetch = Prefetch{m_changeCount, read.get_future()};
    std::thread(std::move(read)).detach();
}

bool WlrDataControlClipboard::setText(const QString& text, Visibility visibility)
{
    const QByteArray utf8 = text.toUtf8();
    ClipboardContents contents;
    for (const char* type : kTextTypes)
        contents.append({QString::fromLatin1(type), utf8});
    if (visibility == Visibility::concealed)
        contents.append({QString::fromLatin1(kConcealedType), QByteArray(kConcealedValue)});
    return offer(contents);
}

bool WlrDataControlClipboard::restore(const ClipboardContents& contents)
{
    return offer(contents);
}

bool WlrDataControlClipboard::offer(const ClipboardContents& contents)
{
    if (!m_device || !m_connection.isConnected())
        return false;
    zwlr_data_control_source_v1* source = nullptr;
    if (!contents.isEmpty()) {
        static const zwlr_data_control_source_v1_listener listener = {.send = &onSend, .cancelled = &onCancelled};
        source = zwlr_data_control_manager_v1_create_data_source(m_manager);
        zwlr_data_control_source_v1_add_listener(source, &listener, this);
        for (const auto& [type, data] : contents)
            zwlr_data_control_source_v1_offer(source, type.toUtf8().constData());
    }
    if (m_mode == Mode::clipboard)
        zwlr_data_control_device_v1_set_selection(m_device, source);
    else
        zwlr_data_control_device_v1_set_primary_selection(m_device, source);
    dropSource(); // replaced already; transfers under way keep their own copy
    m_source = source;
    m_own = contents;
    m_prefetch.reset();
    // The compositor announces the new selection to every device, this one
    // too: the change is counted before returning, so it is not taken for
    // someone else's.
    m_connection.roundtrip();
    return m_source == source && m_connection.isConnected();
}

void WlrDataControlClipboard::dropSource()
{
    if (m_source)
        zwlr_data_control_source_v1_destroy(m_source);
    m_source = nullptr;
    m_own.clear();
}

void WlrDataControlClipboard::onSend(void* data, zwlr_data_control_source_v1* source, const char* type, int32_t fd)
{
    auto* self = static_cast<WlrDataControlClipboard*>(data);
    const QString wanted = QString::fromUtf8(type);
    const auto it = std::find_if(self->m_own.cbegin(), self->m_own.cend(),
                                 [&](const auto& entry) { return entry.first == wanted; });
    if (source != self->m_source || it == self->m_own.cend()) {
        ::close(fd);
        return;
    }
    new Transfer(fd, it->second, self);
}

void WlrDataControlClipboard::onCancelled(void* data, zwlr_data_control_source_v1* source)
{
    auto* self = static_cast<WlrDataControlClipboard*>(data);
    // Sources replaced by this program are destroyed already and hear nothing.
    if (source == self->m_source)
        self->dropSource();
}

#include "platform/linux/QtClipboard.h"

#include "platform/linux/X11ClipboardReader.h"
#include "platform/linux/XcbConnection.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QMimeData>

#include <thread>

QtClipboard::QtClipboard(QClipboard& clipboard, QClipboard::Mode mode, QObject* parent)
    : QObject(parent), m_clipboard(clipboard), m_mode(mode)
{
    connect(&m_clipboard, &QClipboard::changed, this, [this](QClipboard::Mode changed) {
        if (changed != m_mode)
            return;
        ++m_changeCount;
        if (m_prefetch)
            prefetch(); // what was read is out of date
    });
}

QtClipboard::~QtClipboard() = default;

void QtClipboard::prefetch()
{
    m_prefetch.reset();
    if (owns())
        return;
    // Detached, so a read that is no longer wanted costs no wait; it ends by its deadline.
    std::packaged_task<ClipboardContents()> read(
        [selection = selectionName()] { return X11ClipboardReader::read(selection, {}); });
    m_prefetch = Prefetch{m_changeCount, read.get_future()};
    std::thread(std::move(read)).detach();
}

ClipboardContents QtClipboard::snapshot()
{
    std::optional<Prefetch> prefetched = std::exchange(m_prefetch, std::nullopt);
    // Qt answers for this program's own contents; the reader would wait for an answer it cannot get.
    if (owns())
        return ownContents();
    if (prefetched && prefetched->changeCount == m_changeCount)
        return prefetched->contents.get(); // ready, or within its deadline
    return X11ClipboardReader::read(selectionName(), {});
}

const char* QtClipboard::selectionName() const
{
    return m_mode == QClipboard::Selection ? "PRIMARY" : "CLIPBOARD";
}

ClipboardContents QtClipboard::ownContents() const
{
    ClipboardContents contents;
    const QMimeData* data = m_clipboard.mimeData(m_mode);
    if (!data)
        return contents;
    for (const QString& type : data->formats()) {
        if (X11ClipboardReader::isPseudoTarget(type))
            continue;
        const QByteArray bytes = data->data(type);
        if (!bytes.isEmpty())
            contents.append({type, bytes});
    }
    return contents;
}

bool QtClipboard::restore(const ClipboardContents& contents)
{
    if (contents.isEmpty()) {
        m_clipboard.clear(m_mode);
        return true;
    }
    auto* data = new QMimeData;
    for (const auto& [type, bytes] : contents) {
        data->setData(type, bytes);
        // Qt programs, this one too, look for text under its MIME type.
        if (type == u"UTF8_STRING" && !data->hasFormat(QStringLiteral("text/plain")))
            data->setData(QStringLiteral("text/plain"), bytes);
    }
    m_clipboard.setMimeData(data, m_mode);
    return ownsForSure();
}

bool QtClipboard::setText(const QString& text, Visibility visibility)
{
    auto* data = new QMimeData;
    data->setText(text);
    if (visibility == Visibility::concealed)
        data->setData(QString::fromLatin1(kConcealedType), QByteArray(kConcealedValue));
    m_clipboard.setMimeData(data, m_mode);
    return ownsForSure();
}

bool QtClipboard::owns() const
{
    return m_mode == QClipboard::Selection ? m_clipboard.ownsSelection() : m_clipboard.ownsClipboard();
}

bool QtClipboard::ownsForSure() const
{
    if (!owns())
        return false;
    if (!m_serverView || m_serverView->hasError()) {
        m_serverView = XcbConnection::open();
        m_ownerWindow.reset();
    }
    if (!m_serverView)
        return false;
    const std::optional<uint32_t> owner = X11ClipboardReader::ownerOf(*m_serverView, selectionName());
    if (!owner)
        return false;
    // Another client's windows never take our ids, so asking whose it is again is a round trip for nothing.
    if (owner == m_ownerWindow)
        return true;
    const int32_t ownerPid = m_serverView->clientPidOf(*owner);
    if (ownerPid != 0 && ownerPid != QCoreApplication::applicationPid())
        return false;
    m_ownerWindow = owner;
    return true;
}

#include "platform/linux/QtClipboard.h"

#include <QClipboard>
#include <QMimeData>

namespace {

// Selection protocol requests that X11 lists among the types; they are not data.
bool isPseudoType(const QString& type)
{
    return type == u"TARGETS" || type == u"MULTIPLE" || type == u"TIMESTAMP" || type == u"SAVE_TARGETS";
}

} // namespace

QtClipboard::QtClipboard(QClipboard& clipboard, QClipboard::Mode mode, QObject* parent)
    : QObject(parent), m_clipboard(clipboard), m_mode(mode)
{
    connect(&m_clipboard, &QClipboard::changed, this, [this](QClipboard::Mode changed) {
        if (changed == m_mode)
            ++m_changeCount;
    });
}

ClipboardContents QtClipboard::snapshot()
{
    ClipboardContents contents;
    const QMimeData* data = m_clipboard.mimeData(m_mode);
    if (!data)
        return contents;
    for (const QString& type : data->formats()) {
        if (isPseudoType(type))
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
    for (const auto& [type, bytes] : contents)
        data->setData(type, bytes);
    m_clipboard.setMimeData(data, m_mode);
    return owns();
}

bool QtClipboard::setText(const QString& text, Visibility visibility)
{
    auto* data = new QMimeData;
    data->setText(text);
    if (visibility == Visibility::concealed)
        data->setData(QString::fromLatin1(kConcealedType), QByteArray(kConcealedValue));
    m_clipboard.setMimeData(data, m_mode);
    return owns();
}

bool QtClipboard::owns() const
{
    return m_mode == QClipboard::Selection ? m_clipboard.ownsSelection() : m_clipboard.ownsClipboard();
}

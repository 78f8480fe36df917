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

QtClipboard::QtClipboard(QClipboard& clipboard, QObject* parent) : QObject(parent), m_clipboard(clipboard)
{
    connect(&m_clipboard, &QClipboard::changed, this, [this](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard)
            ++m_changeCount;
    });
}

ClipboardContents QtClipboard::snapshot()
{
    ClipboardContents contents;
    const QMimeData* data = m_clipboard.mimeData(QClipboard::Clipboard);
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
        m_clipboard.clear(QClipboard::Clipboard);
        return true;
    }
    auto* data = new QMimeData;
    for (const auto& [type, bytes] : contents)
        data->setData(type, bytes);
    m_clipboard.setMimeData(data, QClipboard::Clipboard);
    return m_clipboard.ownsClipboard();
}

bool QtClipboard::setText(const QString& text, Visibility visibility)
{
    auto* data = new QMimeData;
    data->setText(text);
    if (visibility == Visibility::concealed)
        data->setData(QString::fromLatin1(kConcealedType), QByteArray(kConcealedValue));
    m_clipboard.setMimeData(data, QClipboard::Clipboard);
    return m_clipboard.ownsClipboard();
}

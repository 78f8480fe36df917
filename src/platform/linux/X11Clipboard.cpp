#include "platform/linux/X11Clipboard.h"

#include "platform/linux/X11ClipboardReader.h"
#include "storage/VellLog.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

// The names text goes by. STRING holds Latin-1, the others UTF-8.
constexpr std::string_view kTextTypes[] = {"UTF8_STRING", "text/plain;charset=utf-8", "text/plain", "STRING", "TEXT"};

// ICCCM's STRING is Latin-1; what it cannot hold becomes a question mark.
QByteArray latin1(const QString& text)
{
    QByteArray bytes;
    for (const char32_t c : text.toUcs4())
        bytes.append(c < 0x100 ? char(c) : '?');
    return bytes;
}

const QByteArray* find(const ClipboardContents& contents, QStringView type)
{
    const auto found =
        std::find_if(contents.begin(), contents.end(), [&](const auto& entry) { return entry.first == type; });
    return found != contents.end() ? &found->second : nullptr;
}

} // namespace

X11Clipboard::X11Clipboard(Selection selection, Timings timings, QObject* parent)
    : QObject(parent), m_selection(selection)
{
    m_owner = X11SelectionOwner::open(selectionName(), timings, [this](const X11SelectionOwner::Notice& notice) {
        QMetaObject::invokeMethod(
            this, [this, notice] { onNotice(notice); }, Qt::QueuedConnection);
    });
    if (!m_owner) {
        VellLog::insert().error(QStringLiteral("no X server; %1 can't be set").arg(QLatin1String(selectionName())));
        return;
    }
    // Asked once, so that setting text costs no round trip for its names.
    std::vector<std::string_view> names(std::begin(kTextTypes), std::end(kTextTypes));
    names.push_back(kConcealedType);
    m_owner->atoms(names);
}

X11Clipboard::~X11Clipboard()
{
    // Hands the contents to a clipboard manager first; the notices it posts meanwhile are dropped with this object.
    m_owner.reset();
}

void X11Clipboard::prefetch()
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

ClipboardContents X11Clipboard::snapshot()
{
    std::optional<Prefetch> prefetched = std::exchange(m_prefetch, std::nullopt);
    if (owns())
        return m_offered;
    if (prefetched && prefetched->changeCount == m_changeCount)
        return prefetched->contents.get(); // ready, or within its deadline
    return X11ClipboardReader::read(selectionName(), {});
}

bool X11Clipboard::setText(const QString& text, Visibility visibility)
{
    const QByteArray utf8 = text.toUtf8();
    ClipboardContents contents;
    for (const std::string_view type : kTextTypes)
        contents.append({QString::fromLatin1(type), type == "STRING" ? latin1(text) : utf8});
    if (visibility == Visibility::concealed)
        contents.append({QString::fromLatin1(kConcealedType), QByteArray(kConcealedValue)});
    return offer(contents);
}

bool X11Clipboard::restore(const ClipboardContents& contents)
{
    if (contents.isEmpty()) {
        if (owns()) {
            m_owner->release();
            m_offered.clear();
            ++m_changeCount;
        }
        return true;
    }
    const bool hasMimeText = find(contents, u"text/plain") != nullptr;
    ClipboardContents offered;
    for (const auto& [type, bytes] : contents) {
        offered.append({type, bytes});
        // Qt programs look for text under its MIME type.
        if (type == u"UTF8_STRING" && !hasMimeText)
            offered.append({QStringLiteral("text/plain"), bytes});
    }
    return offer(offered);
}

bool X11Clipboard::offer(const ClipboardContents& contents)
{
    if (!m_owner)
        return false;
    ClipboardContents served;
    std::vector<std::string> names;
    for (const auto& [type, bytes] : contents) {
        if (!X11ClipboardReader::isPseudoTarget(type)) {
            served.append({type, bytes});
            names.push_back(type.toStdString());
        }
    }
    names.insert(names.end(), {"UTF8_STRING", "STRING"});
    const std::vector<std::string_view> views(names.begin(), names.end());
    const std::vector<xcb_atom_t> atoms = m_owner->atoms(views);
    const xcb_atom_t utf8 = atoms[atoms.size() - 2];
    const xcb_atom_t string = atoms.back();
    const QByteArray* utf8Bytes = find(served, u"UTF8_STRING");

    auto targets = std::make_shared<X11SelectionTargets>();
    for (qsizetype i = 0; i < served.size(); ++i) {
        const auto& [type, bytes] = served[i];
        if (atoms[i] == XCB_ATOM_NONE)
            continue;
        // TEXT leaves the encoding to the owner: UTF-8, where there is some.
        if (type == u"TEXT")
            targets->push_back(utf8Bytes ? X11SelectionTarget{atoms[i], utf8, *utf8Bytes}
                                         : X11SelectionTarget{atoms[i], string, bytes});
        else
            targets->push_back({atoms[i], atoms[i], bytes});
    }
    if (!m_owner->take(std::move(targets)))
        return false;
    m_offered = std::move(served);
    ++m_changeCount;
    return true;
}

void X11Clipboard::onNotice(const X11SelectionOwner::Notice& notice)
{
    // Counted already, or overtaken by this program's own change since.
    if (m_owner->isOwnOrEarlier(notice))
        return;
    ++m_changeCount;
    if (m_prefetch)
        prefetch(); // what was read is out of date
}

std::shared_ptr<XcbConnection> X11Clipboard::connectionForKeys()
{
    return m_owner ? m_owner->connectionForKeys() : nullptr;
}

bool X11Clipboard::owns() const
{
    return m_owner && m_owner->owns();
}

const char* X11Clipboard::selectionName() const
{
    return m_selection == Selection::primary ? "PRIMARY" : "CLIPBOARD";
}

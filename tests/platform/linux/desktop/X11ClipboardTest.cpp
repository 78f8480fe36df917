#include "platform/linux/X11Clipboard.h"

#include "NoiseImage.h"
#include "TextFieldProcess.h"
#include "platform/linux/X11ClipboardReader.h"
#include "platform/linux/XcbConnection.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QTest>

#include <gtest/gtest.h>

#include <poll.h>

#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Event = std::unique_ptr<xcb_generic_event_t, decltype(&std::free)>;

// What xclip reads; none when it fails. This thread blocks meanwhile, so the owner's thread answers.
std::optional<QByteArray> xclipReads(const QString& target)
{
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"), {u"-o"_qs, u"-selection"_qs, u"clipboard"_qs, u"-t"_qs, target});
    if (!xclip.waitForFinished(10000) || xclip.exitCode() != 0)
        return std::nullopt;
    return xclip.readAllStandardOutput();
}

// xclip holding the clipboard with `text` until another program takes it.
class XclipOwner
{
public:
    explicit XclipOwner(const QByteArray& text)
    {
        m_xclip.start(QStringLiteral("xclip"), {u"-i"_qs, u"-quiet"_qs, u"-selection"_qs, u"clipboard"_qs});
        m_xclip.write(text);
        m_xclip.closeWriteChannel();
    }
    ~XclipOwner()
    {
        m_xclip.kill();
        m_xclip.waitForFinished(3000);
    }

private:
    QProcess m_xclip;
};

// A client of the test's own, speaking the selection protocol by hand.
class RawClient
{
public:
    RawClient() : x(XcbConnection::open()), c(x->get()), window(xcb_generate_id(c))
    {
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, x->root(), 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
    }

    // The next event of `type`, others dropped; none within `wait`.
    Event next(uint8_t type, std::chrono::milliseconds wait = 5s)
    {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < wait.count()) {
            xcb_flush(c);
            while (Event event{xcb_poll_for_event(c), &std::free})
                if ((event->response_type & 0x7f) == type)
                    return event;
            pollfd descriptor{x->fileDescriptor(), POLLIN, 0};
            ::poll(&descriptor, 1, 50);
        }
        return {nullptr, &std::free};
    }

    // The owner's answer: the property it wrote, XCB_NONE when it refused.
    xcb_atom_t convert(const char* target, xcb_atom_t property)
    {
        xcb_convert_selection(c, window, x->atom("CLIPBOARD"), x->atom(target), property, XCB_CURRENT_TIME);
        const Event notify = next(XCB_SELECTION_NOTIFY);
        return notify ? reinterpret_cast<xcb_selection_notify_event_t*>(notify.get())->property : XCB_NONE;
    }

    std::pair<xcb_atom_t, QByteArray> property(xcb_atom_t property)
    {
        auto* reply =
            xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, XCB_ATOM_ANY, 0, 1 << 20), nullptr);
        const std::pair result(reply->type, QByteArray(static_cast<const char*>(xcb_get_property_value(reply)),
                                                       xcb_get_property_value_length(reply)));
        free(reply);
        return result;
    }

    // Sends `event` as another client would, padded to the 32 bytes the server reads.
    template <typename Event> void send(xcb_window_t to, const Event& event)
    {
        char bytes[32] = {};
        std::memcpy(bytes, &event, sizeof event);
        xcb_send_event(c, 0, to, XCB_EVENT_MASK_NO_EVENT, bytes);
        xcb_flush(c);
    }

    xcb_window_t ownerOf(const char* selection)
    {
        auto* reply = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, x->atom(selection)), nullptr);
        const xcb_window_t owner = reply->owner;
        free(reply);
        return owner;
    }

    std::unique_ptr<XcbConnection> x;
    xcb_connection_t* c;
    xcb_window_t window;
};

class X11ClipboardTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "run under tests/support/with-desktop";
    }

    std::unique_ptr<X11Clipboard> clipboard = std::make_unique<X11Clipboard>();
};

TEST_F(X11ClipboardTest, TextIsServedUnderEveryNameItGoesBy)
{
    ASSERT_TRUE(clipboard->setText(u"Grüße ☃"_qs, Clipboard::Visibility::concealed));

    const QList<QByteArray> targets = xclipReads(u"TARGETS"_qs).value_or(QByteArray()).split('\n');
    for (const char* target : {"TARGETS", "TIMESTAMP", "SAVE_TARGETS", "UTF8_STRING", "text/plain;charset=utf-8",
                               "text/plain", "STRING", "TEXT", "x-kde-passwordManagerHint"})
        EXPECT_TRUE(targets.contains(target)) << target;
    EXPECT_EQ(xclipReads(u"UTF8_STRING"_qs), QByteArray("Grüße ☃"));
    EXPECT_EQ(xclipReads(u"TEXT"_qs), QByteArray("Grüße ☃"));
    EXPECT_EQ(xclipReads(u"STRING"_qs), QByteArray("Gr\xFC\xDF"
                                                   "e ?"));
    EXPECT_EQ(xclipReads(u"x-kde-passwordManagerHint"_qs), QByteArray("secret"));
    EXPECT_EQ(xclipReads(u"image/png"_qs), std::nullopt);

    RawClient old;
    const xcb_atom_t property = old.x->atom("VELL_TEST");
    ASSERT_EQ(old.convert("TIMESTAMP", property), property);
    EXPECT_EQ(old.property(property).first, xcb_atom_t(XCB_ATOM_INTEGER));
    // A requestor older than the conventions names no property; MULTIPLE is refused.
    const xcb_atom_t utf8 = old.x->atom("UTF8_STRING");
    ASSERT_EQ(old.convert("UTF8_STRING", XCB_NONE), utf8);
    EXPECT_EQ(old.property(utf8), std::pair(utf8, QByteArray("Grüße ☃")));
    EXPECT_EQ(old.convert("MULTIPLE", property), xcb_atom_t(XCB_NONE));

    // A Qt program finds the text and the hint that keeps it out of clipboard histories.
    TextFieldProcess field;
    const QJsonObject seen = field.clipboard();
    EXPECT_EQ(seen.value(u"text"_qs).toString(), u"Grüße ☃"_qs);
    EXPECT_TRUE(seen.value(u"formats"_qs).toArray().contains(u"x-kde-passwordManagerHint"_qs));
}

TEST_F(X11ClipboardTest, RestoredContentsComeBackWholeAlsoToSeveralReadersAtOnce)
{
    const QByteArray png = noisePng(800);
    ASSERT_TRUE(clipboard->restore({{u"UTF8_STRING"_qs, "earlier"}, {u"image/png"_qs, png}}));
    // Qt programs look for text under its MIME name.
    EXPECT_EQ(xclipReads(u"text/plain"_qs), QByteArray("earlier"));

    QProcess first;
    QProcess second;
    for (QProcess* xclip : {&first, &second})
        xclip->start(u"xclip"_qs, {u"-o"_qs, u"-selection"_qs, u"clipboard"_qs, u"-t"_qs, u"image/png"_qs});
    for (QProcess* xclip : {&first, &second}) {
        ASSERT_TRUE(xclip->waitForFinished(10000));
        EXPECT_TRUE(xclip->readAllStandardOutput() == png);
    }
    TextFieldProcess field;
    EXPECT_EQ(field.clipboard().value(u"imageWidth"_qs).toInt(), 800);
}

TEST_F(X11ClipboardTest, ARequestorThatStopsTakingPiecesHoldsUpNobody)
{
    clipboard = std::make_unique<X11Clipboard>(X11Clipboard::Selection::clipboard,
                                               X11Clipboard::Timings{.stalledTransfer = 1s});
    const QByteArray png = noisePng(800);
    ASSERT_TRUE(clipboard->restore({{u"UTF8_STRING"_qs, "small"}, {u"image/png"_qs, png}}));

    RawClient stalled;
    const xcb_atom_t property = stalled.x->atom("VELL_TEST");
    ASSERT_EQ(stalled.convert("image/png", property), property);
    EXPECT_EQ(stalled.property(property).first, stalled.x->atom("INCR"));
    // While pieces are due, the owner watches the requestor's window; the requestor itself does not.
    const auto watched = [&] {
        auto* attributes =
            xcb_get_window_attributes_reply(stalled.c, xcb_get_window_attributes(stalled.c, stalled.window), nullptr);
        const bool isWatched = attributes->all_event_masks & XCB_EVENT_MASK_PROPERTY_CHANGE;
        free(attributes);
        return isWatched;
    };
    EXPECT_TRUE(watched());

    // Another one asks for the first piece and goes away: the errors of writing it end nothing.
    auto gone = std::make_unique<RawClient>();
    ASSERT_EQ(gone->convert("image/png", property), property);
    xcb_delete_property(gone->c, gone->window, property);
    gone.reset();

    EXPECT_EQ(xclipReads(u"UTF8_STRING"_qs), QByteArray("small"));
    EXPECT_TRUE(xclipReads(u"image/png"_qs) == png);
    // Any request lets the owner look at the clock and give up the stalled transfer.
    EXPECT_TRUE(QTest::qWaitFor([&] { return xclipReads(u"UTF8_STRING"_qs) && !watched(); }, 5000));
}

TEST_F(X11ClipboardTest, EveryChangeCountsOnceAndOwnershipEndsWhenAnotherProgramCopies)
{
    RawClient other;
    ASSERT_TRUE(clipboard->setText(u"first"_qs, Clipboard::Visibility::normal));
    EXPECT_EQ(clipboard->changeCount(), 1u);
    const xcb_window_t ours = other.ownerOf("CLIPBOARD");
    // Waits until the owner's thread has passed on every notice sent so far: it answers a request sent after them.
    const auto settle = [&] {
        const xcb_atom_t clipboardAtom = other.x->atom("CLIPBOARD");
        const xcb_atom_t targets = other.x->atom("TARGETS");
        other.send(ours, xcb_selection_request_event_t{XCB_SELECTION_REQUEST, 0, 0, XCB_CURRENT_TIME, ours,
                                                       other.window, clipboardAtom, targets, targets});
        ASSERT_TRUE(other.next(XCB_SELECTION_NOTIFY));
        QCoreApplication::sendPostedEvents();
    };
    const auto xclipCopies = [&](const QByteArray& text) {
        auto xclip = std::make_unique<XclipOwner>(text);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                const xcb_window_t owner = other.ownerOf("CLIPBOARD");
                return owner != XCB_NONE && owner != ours && owner != other.window;
            },
            5000));
        settle();
        return xclip;
    };

    // Giving up leaves the clipboard to nobody; when it is not ours, there is nothing to give.
    ASSERT_TRUE(clipboard->restore({}));
    EXPECT_EQ(other.ownerOf("CLIPBOARD"), xcb_window_t(XCB_NONE));
    ASSERT_TRUE(clipboard->restore({}));
    EXPECT_EQ(clipboard->changeCount(), 2u);
    auto xclip = xclipCopies("copied elsewhere");
    EXPECT_EQ(clipboard->changeCount(), 3u);

    // Another client copies, and before its notice arrives this program does: that notice is old news.
    xcb_set_selection_owner(other.c, other.window, other.x->atom("CLIPBOARD"), XCB_CURRENT_TIME);
    ASSERT_EQ(other.ownerOf("CLIPBOARD"), other.window);
    ASSERT_TRUE(clipboard->setText(u"second"_qs, Clipboard::Visibility::normal));
    EXPECT_EQ(clipboard->changeCount(), 4u);
    xclip = xclipCopies("copied again");
    EXPECT_EQ(clipboard->changeCount(), 5u);
    // No longer the owner, it reads what the other program holds.
    EXPECT_TRUE(clipboard->snapshot().contains(std::pair(u"UTF8_STRING"_qs, QByteArray("copied again"))));
}

// A clipboard manager of the test's own: it owns CLIPBOARD_MANAGER and, asked
// to save, reads the clipboard, takes it over and only then answers.
class ClipboardManager
{
public:
    explicit ClipboardManager(bool answers)
    {
        xcb_set_selection_owner(m_client.c, m_client.window, m_client.x->atom("CLIPBOARD_MANAGER"), XCB_CURRENT_TIME);
        m_client.ownerOf("CLIPBOARD_MANAGER");
        if (answers)
            m_thread = std::thread([this] { serveOnce(); });
    }
    ~ClipboardManager() { finish(); }

    void finish()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

    ClipboardContents saved() const { return m_saved; }
    xcb_window_t window() const { return m_client.window; }

private:
    void serveOnce()
    {
        const Event event = m_client.next(XCB_SELECTION_REQUEST, 10s);
        if (!event)
            return;
        const auto request = *reinterpret_cast<xcb_selection_request_event_t*>(event.get());
        m_saved = X11ClipboardReader::read("CLIPBOARD", {.perType = 5s, .whole = 10s});
        xcb_set_selection_owner(m_client.c, m_client.window, m_client.x->atom("CLIPBOARD"), XCB_CURRENT_TIME);
        const bool saves = request.target == m_client.x->atom("SAVE_TARGETS");
        const xcb_atom_t property = saves ? request.property : xcb_atom_t(XCB_NONE);
        m_client.send(request.requestor,
                      xcb_selection_notify_event_t{XCB_SELECTION_NOTIFY, 0, 0, request.time, request.requestor,
                                                   request.selection, request.target, property});
    }

    RawClient m_client;
    ClipboardContents m_saved;
    std::thread m_thread;
};

TEST_F(X11ClipboardTest, AtExitAClipboardManagerTakesTheContentsOverWithinADeadline)
{
    const QByteArray png = noisePng(800);
    clipboard =
        std::make_unique<X11Clipboard>(X11Clipboard::Selection::clipboard, X11Clipboard::Timings{.handOver = 5s});
    ASSERT_TRUE(clipboard->restore({{u"UTF8_STRING"_qs, "keep me"}, {u"image/png"_qs, png}}));
    {
        ClipboardManager manager(true);
        QElapsedTimer took;
        took.start();
        clipboard.reset();
        EXPECT_LT(took.elapsed(), 4000) << "the manager's answer did not end the wait";
        manager.finish();
        // Served from the owner's thread while the main thread waited.
        EXPECT_TRUE(manager.saved().contains(std::pair(u"UTF8_STRING"_qs, QByteArray("keep me"))));
        EXPECT_TRUE(manager.saved().contains(std::pair(u"image/png"_qs, png)));
        EXPECT_EQ(RawClient().ownerOf("CLIPBOARD"), manager.window());
    }

    clipboard =
        std::make_unique<X11Clipboard>(X11Clipboard::Selection::clipboard, X11Clipboard::Timings{.handOver = 300ms});
    ASSERT_TRUE(clipboard->setText(u"kept or not"_qs, Clipboard::Visibility::normal));
    ClipboardManager silent(false);
    QElapsedTimer took;
    took.start();
    clipboard.reset();
    EXPECT_GE(took.elapsed(), 300);
    EXPECT_LT(took.elapsed(), 2000);
}

} // namespace

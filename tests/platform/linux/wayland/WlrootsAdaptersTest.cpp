// The wlroots adapters against a real compositor: run under
// tests/support/with-sway, which gives a private headless sway.

#include "platform/linux/desktop/TextFieldProcess.h"
#include "platform/linux/wayland/ForeignToplevelWatch.h"
#include "platform/linux/wayland/VirtualKeyboardPoster.h"
#include "platform/linux/wayland/WaylandConnection.h"
#include "platform/linux/wayland/WlrDataControlClipboard.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wlr-data-control-unstable-v1-client.h>

#include <cstring>
#include <thread>

namespace {

using Mode = WlrDataControlClipboard::Mode;

// Runs a program to its end while the event loop keeps serving our
// clipboard; its standard output.
QByteArray run(const QString& program, const QStringList& arguments, const QByteArray& input = {})
{
    QProcess process;
    process.start(program, arguments);
    process.waitForStarted(5000);
    process.write(input);
    process.closeWriteChannel();
    QByteArray output;
    [[maybe_unused]] const bool ended = QTest::qWaitFor(
        [&] {
            output += process.readAllStandardOutput();
            return process.state() == QProcess::NotRunning;
        },
        10000);
    return output + process.readAllStandardOutput();
}

QByteArray wlPaste(const QStringList& arguments)
{
    return run(QStringLiteral("wl-paste"), arguments);
}

QStringList pastedTypes(const QStringList& extra = {})
{
    return QString::fromUtf8(wlPaste(QStringList{QStringLiteral("-l")} + extra)).split(u'\n', Qt::SkipEmptyParts);
}

// Sets the clipboard from another client (wl-copy stays behind to serve it)
// and waits until `clipboard` has heard of it.
void copyElsewhere(WlrDataControlClipboard& clipboard, const QStringList& arguments, const QByteArray& data)
{
    const quint64 before = clipboard.changeCount();
    run(QStringLiteral("wl-copy"), arguments, data);
    ASSERT_TRUE(QTest::qWaitFor([&] { return clipboard.changeCount() > before; }, 5000));
}

class WlrootsAdapters : public ::testing::Test
{
protected:
    void SetUp() override
    {
        connection = WaylandConnection::open();
        ASSERT_TRUE(connection) << "no compositor at WAYLAND_DISPLAY; run under tests/support/with-sway";
    }

    std::unique_ptr<WaylandConnection> connection;
};

TEST_F(WlrootsAdapters, ListsTheCompositorsGlobals)
{
    EXPECT_TRUE(connection->hasGlobal(QStringLiteral("zwlr_data_control_manager_v1")));
    EXPECT_TRUE(connection->hasGlobal(QStringLiteral("zwp_virtual_keyboard_manager_v1")));
    EXPECT_TRUE(connection->globals().contains(QStringLiteral("wl_seat")));
    EXPECT_GE(connection->version(QStringLiteral("zwlr_data_control_manager_v1")), 2u);
    EXPECT_FALSE(connection->hasGlobal(QStringLiteral("zvell_nothing_v1")));
    EXPECT_NE(connection->seat(), nullptr);
}

TEST_F(WlrootsAdapters, SetTextIsPastedElsewhereAndConcealedOnlyWhenAsked)
{
    WlrDataControlClipboard clipboard(*connection);
    ASSERT_TRUE(clipboard.isAvailable());

    ASSERT_TRUE(clipboard.setText(QStringLiteral("grüße"), Clipboard::Visibility::normal));
    EXPECT_EQ(wlPaste({QStringLiteral("-n")}), QStringLiteral("grüße").toUtf8());
    QStringList types = pastedTypes();
    EXPECT_TRUE(types.contains(QStringLiteral("text/plain;charset=utf-8")));
    EXPECT_TRUE(types.contains(QStringLiteral("UTF8_STRING")));
    EXPECT_FALSE(types.contains(QLatin1String(WlrDataControlClipboard::kConcealedType)));

    ASSERT_TRUE(clipboard.setText(QStringLiteral("hidden"), Clipboard::Visibility::concealed));
    EXPECT_EQ(wlPaste({QStringLiteral("-n")}), "hidden");
    EXPECT_TRUE(pastedTypes().contains(QLatin1String(WlrDataControlClipboard::kConcealedType)));
    EXPECT_EQ(wlPaste({QStringLiteral("-n"), QStringLiteral("-t"), QStringLiteral("x-kde-passwordManagerHint")}),
              "secret");
}

TEST_F(WlrootsAdapters, SnapshotOfAnotherClientIsRestoredExactly)
{
    WlrDataControlClipboard clipboard(*connection);
    ASSERT_TRUE(clipboard.setText(QStringLiteral("ours"), Clipboard::Visibility::concealed));
    const QByteArray html = "<b>bold</b> text";
    copyElsewhere(clipboard, {QStringLiteral("--type"), QStringLiteral("text/html")}, html);

    // Ours was replaced: the snapshot asks the new owner (which offers text types too).
    const ClipboardContents snapshot = clipboard.snapshot();
    ASSERT_FALSE(snapshot.isEmpty());
    EXPECT_EQ(snapshot.front(), std::make_pair(QStringLiteral("text/html"), html));
    QStringList snapshotTypes;
    for (const auto& [type, data] : snapshot)
        snapshotTypes.append(type);

    ASSERT_TRUE(clipboard.setText(QStringLiteral("dictated"), Clipboard::Visibility::concealed));
    const quint64 afterOurs = clipboard.changeCount();
    ASSERT_TRUE(clipboard.restore(snapshot));
    EXPECT_GT(clipboard.changeCount(), afterOurs);
    EXPECT_EQ(pastedTypes(), snapshotTypes);
    EXPECT_EQ(wlPaste({QStringLiteral("-n"), QStringLiteral("-t"), QStringLiteral("text/html")}), html);
    EXPECT_EQ(clipboard.snapshot(), snapshot);

    ASSERT_TRUE(clipboard.restore({}));
    EXPECT_TRUE(pastedTypes().isEmpty());
}

TEST_F(WlrootsAdapters, ChangeCountCountsOurOwnChangeBeforeReturningAndOthersAsTheyCome)
{
    WlrDataControlClipboard clipboard(*connection);
    const quint64 start = clipboard.changeCount();
    ASSERT_TRUE(clipboard.setText(QStringLiteral("one"), Clipboard::Visibility::normal));
    const quint64 ours = clipboard.changeCount();
    EXPECT_GT(ours, start);
    // Nothing more is counted for our own change once it has returned.
    QTest::qWait(200);
    EXPECT_EQ(clipboard.changeCount(), ours);

    copyElsewhere(clipboard, {}, "two");
    EXPECT_EQ(clipboard.snapshot().value(0).second, "two");
}

TEST_F(WlrootsAdapters, PrefetchedSnapshotIsTheCurrentOne)
{
    WlrDataControlClipboard clipboard(*connection);
    copyElsewhere(clipboard, {QStringLiteral("--type"), QStringLiteral("text/plain")}, "first");
    clipboard.prefetch();
    copyElsewhere(clipboard, {QStringLiteral("--type"), QStringLiteral("text/plain")}, "second");
    const ClipboardContents snapshot = clipboard.snapshot();
    ASSERT_FALSE(snapshot.isEmpty());
    for (const auto& [type, data] : snapshot)
        EXPECT_EQ(data, "second") << type.toStdString();
}

TEST_F(WlrootsAdapters, LargeContentsAreServedWithoutHoldingTheEventLoop)
{
    WlrDataControlClipboard clipboard(*connection);
    QByteArray big(8 * 1024 * 1024, '\0');
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char((i * 7919) >> 3);
    const QString type = QStringLiteral("application/x-vell-test");
    ASSERT_TRUE(clipboard.restore({{type, big}}));

    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    ticker.start(5);
    sinceTick.start();
    const QByteArray pasted = wlPaste({QStringLiteral("-t"), type});
    ticker.stop();
    EXPECT_TRUE(pasted == big) << "got " << pasted.size() << " bytes";
    EXPECT_LT(longestGap, 250);
}

TEST_F(WlrootsAdapters, StuckOwnerCostsNoMoreThanTheDeadline)
{
    // Another client that takes the clipboard and never answers a request.
    std::unique_ptr<WaylandConnection> other = WaylandConnection::open();
    ASSERT_TRUE(other);
    auto* manager = static_cast<zwlr_data_control_manager_v1*>(other->bind(zwlr_data_control_manager_v1_interface, 1));
    auto* device = zwlr_data_control_manager_v1_get_data_device(manager, other->seat());
    auto* source = zwlr_data_control_manager_v1_create_data_source(manager);
    zwlr_data_control_source_v1_offer(source, "text/plain");
    zwlr_data_control_source_v1_offer(source, "text/html");

    WlrDataControlClipboard clipboard(*connection, Mode::clipboard,
                                      {std::chrono::milliseconds(100), std::chrono::milliseconds(300)});
    const quint64 before = clipboard.changeCount();
    zwlr_data_control_device_v1_set_selection(device, source);
    other->flush();
    ASSERT_TRUE(QTest::qWaitFor([&] { return clipboard.changeCount() > before; }, 5000));

    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_TRUE(clipboard.snapshot().isEmpty());
    EXPECT_LT(elapsed.elapsed(), 1000);

    zwlr_data_control_source_v1_destroy(source);
    zwlr_data_control_device_v1_destroy(device);
    zwlr_data_control_manager_v1_destroy(manager);
    other->flush();
}

TEST_F(WlrootsAdapters, PrimarySelectionIsItsOwn)
{
    WlrDataControlClipboard clipboard(*connection);
    WlrDataControlClipboard selection(*connection, Mode::primarySelection);
    ASSERT_TRUE(selection.isAvailable());
    ASSERT_TRUE(clipboard.setText(QStringLiteral("clipboard"), Clipboard::Visibility::normal));
    const quint64 clipboardCount = clipboard.changeCount();

    ASSERT_TRUE(selection.setText(QStringLiteral("primary"), Clipboard::Visibility::normal));
    EXPECT_EQ(wlPaste({QStringLiteral("-p"), QStringLiteral("-n")}), "primary");
    EXPECT_EQ(wlPaste({QStringLiteral("-n")}), "clipboard");
    EXPECT_EQ(clipboard.changeCount(), clipboardCount);
}

// A listening socket that plays a compositor: silent, or answering the
// first roundtrip and then going away.
class FakeCompositor
{
public:
    FakeCompositor()
    {
        path = dir.filePath(QStringLiteral("wayland-fake")).toLocal8Bit();
        listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
        ::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listening, 1);
    }
    ~FakeCompositor()
    {
        if (answering.joinable())
            answering.join();
        if (client >= 0)
            ::close(client);
        ::close(listening);
    }

    // Answers the client's sync with its done event, on a thread while the client waits.
    void answerFirstRoundtrip()
    {
        answering = std::thread([this] {
            client = ::accept(listening, nullptr, nullptr);
            uint32_t words[64];
            qsizetype have = 0;
            // get_registry (8 + 4 bytes) then sync (8 + 4 bytes), both on wl_display (object 1).
            while (have < 24) {
                const ssize_t count = ::read(client, reinterpret_cast<char*>(words) + have, sizeof words - have);
                if (count <= 0)
                    return;
                have += count;
            }
            const uint32_t callback = words[5];
            const uint32_t answer[] = {callback, (12u << 16) | 0, 1, 1, (12u << 16) | 1, callback};
            [[maybe_unused]] const ssize_t written = ::write(client, answer, sizeof answer);
        });
    }
    void goAway()
    {
        answering.join();
        ::close(client);
        client = -1;
    }

    QTemporaryDir dir;
    QByteArray path;
    int listening = -1;
    int client = -1;
    std::thread answering;
};

TEST(WaylandConnection, NoneWhenNoCompositorAnswers)
{
    EXPECT_FALSE(WaylandConnection::open(QStringLiteral("/nonexistent/wayland-0")));

    FakeCompositor silent;
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_FALSE(WaylandConnection::open(QString::fromLocal8Bit(silent.path), std::chrono::milliseconds(300)));
    EXPECT_LT(elapsed.elapsed(), 2000);
}

TEST(WaylandConnection, TellsWhenTheCompositorGoesAway)
{
    FakeCompositor compositor;
    compositor.answerFirstRoundtrip();
    std::unique_ptr<WaylandConnection> connection = WaylandConnection::open(QString::fromLocal8Bit(compositor.path));
    ASSERT_TRUE(connection);
    EXPECT_TRUE(connection->globals().isEmpty());
    EXPECT_EQ(connection->seat(), nullptr);
    ASSERT_TRUE(connection->isConnected());

    QSignalSpy disconnected(connection.get(), &WaylandConnection::disconnected);
    compositor.goAway();
    ASSERT_TRUE(disconnected.wait(5000));
    EXPECT_FALSE(connection->isConnected());
    EXPECT_FALSE(connection->roundtrip());
    // Adapters on a connection without what they need answer false.
    WlrDataControlClipboard clipboard(*connection);
    EXPECT_FALSE(clipboard.setText(QStringLiteral("x"), Clipboard::Visibility::normal));
    VirtualKeyboardPoster poster(*connection);
    EXPECT_FALSE(poster.paste(PasteKeys::ctrlV));
}

class VirtualKeyboard : public WlrootsAdapters
{
protected:
    void SetUp() override
    {
        WlrootsAdapters::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        qputenv("QT_QPA_PLATFORM", "wayland");
        field = std::make_unique<TextFieldProcess>();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return field->send({{QStringLiteral("do"), QStringLiteral("state")}}).value(u"active").toBool();
            },
            10000))
            << "the native field never got focus";
    }
    void TearDown() override
    {
        field.reset();
        setLayout(QStringLiteral("us"), {});
    }

    static void setLayout(const QString& layout, const QString& variant)
    {
        run(QStringLiteral("swaymsg"), {QStringLiteral("input type:keyboard xkb_layout ") + layout});
        run(QStringLiteral("swaymsg"), {QStringLiteral("input type:keyboard xkb_variant ") +
                                        (variant.isEmpty() ? QStringLiteral("basic") : variant)});
    }

    std::unique_ptr<TextFieldProcess> field;
};

TEST_F(VirtualKeyboard, PasteChordPastesOnEveryLayout)
{
    WlrDataControlClipboard clipboard(*connection);
    VirtualKeyboardPoster poster(*connection);
    ASSERT_TRUE(poster.isAvailable());
    EXPECT_FALSE(poster.postBlankKey());

    struct Layout
    {
        QString layout, variant;
    };
    QString expected;
    for (const Layout& layout : {Layout{QStringLiteral("us"), {}}, Layout{QStringLiteral("de"), {}},
                                 Layout{QStringLiteral("us"), QStringLiteral("dvorak")}}) {
        SCOPED_TRACE((layout.layout + u' ' + layout.variant).toStdString());
        setLayout(layout.layout, layout.variant);
        const QString piece = u'[' + layout.layout + layout.variant + u']';
        ASSERT_TRUE(clipboard.setText(piece, Clipboard::Visibility::concealed));
        ASSERT_TRUE(poster.paste(PasteKeys::ctrlV));
        expected += piece;
        EXPECT_TRUE(QTest::qWaitFor([&] { return field->text() == expected; }, 3000)) << field->text().toStdString();
    }
}

TEST_F(VirtualKeyboard, ChordCarriesItsModifiers)
{
    VirtualKeyboardPoster poster(*connection);
    setLayout(QStringLiteral("de"), {});
    // Model key codes are the ANSI positions: 7 is X, 6 is Z (where de has Y).
    ASSERT_TRUE(poster.postChord(ModifierKeys(), 7));
    ASSERT_TRUE(poster.postChord(ModifierKeys::leftShift, 7));
    ASSERT_TRUE(poster.postChord(ModifierKeys(), 6));
    EXPECT_TRUE(QTest::qWaitFor([&] { return field->text() == u"xXz"; }, 3000)) << field->text().toStdString();
}

} // namespace

namespace {

TEST_F(VirtualKeyboard, ToplevelWatchFollowsTheActivatedWindow)
{
    ForeignToplevelWatch watch(*connection);
    ASSERT_TRUE(watch.isAvailable());
    ASSERT_TRUE(watch.activated());
    EXPECT_EQ(watch.activated()->title, u"Vell test field");
    const QString firstAppId = watch.activated()->appId;
    EXPECT_EQ(firstAppId, u"vell-textfield");

    QSignalSpy changed(&watch, &ForeignToplevelWatch::activatedChanged);
    {
        TextFieldProcess other({QStringLiteral("--class"), QStringLiteral("vell-other-field")});
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return watch.activated() && watch.activated()->appId != firstAppId; }, 10000));
        EXPECT_GE(changed.count(), 1);
        EXPECT_EQ(watch.activated()->appId, u"vell-other-field");
        EXPECT_EQ(watch.activated()->title, u"Vell test field");
    }
    // The other window closed: focus goes back to the first.
    EXPECT_TRUE(QTest::qWaitFor([&] { return watch.activated() && watch.activated()->appId == firstAppId; }, 5000));
}

} // namespace

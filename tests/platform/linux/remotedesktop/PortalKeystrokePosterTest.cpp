// The RemoteDesktop portal poster against a real compositor and portal: run
// under tests/support/with-mutter (headless mutter, xdg-desktop-portal and its
// GNOME backend). The consent dialog is answered through AT-SPI, as a user
// would press its buttons.

#include "platform/linux/PortalKeystrokePoster.h"

#include "platform/linux/X11KeyCodes.h"
#include "platform/linux/desktop/TextFieldProcess.h"
#include "support/PortalDialog.h"

#include <QDBusConnection>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

using Access = KeystrokePoster::Access;

// Presses `button` ("Share" or "Cancel") of the consent dialog once it shows.
bool answerDialog(const QString& button)
{
    return answerPortalDialog(qEnvironmentVariable("VELL_PORTAL_DIALOG", QStringLiteral(VELL_PORTAL_DIALOG)), button);
}

bool waitUntilActive(TextFieldProcess& field)
{
    return field.isRunning() &&
           QTest::qWaitFor(
               [&] {
                   return field.send({{QStringLiteral("do"), QStringLiteral("state")}}).value(u"active").toBool();
               },
               10000);
}

bool waitFor(const PortalKeystrokePoster& poster, Access access)
{
    return QTest::qWaitFor([&] { return poster.access() == access; }, 20000);
}

class PortalPoster : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under tests/support/with-mutter";
        ASSERT_TRUE(folder.isValid());
        settings = std::make_unique<QSettings>(folder.filePath(QStringLiteral("vell.ini")), QSettings::IniFormat);
    }

    QTemporaryDir folder;
    std::unique_ptr<QSettings> settings;
};

TEST_F(PortalPoster, PostsNothingUntilTheUserAllowsIt)
{
    PortalKeystrokePoster poster(*settings);
    QSignalSpy changes(&poster, &PortalKeystrokePoster::accessChanged);
    EXPECT_EQ(poster.access(), Access::notAsked);
    EXPECT_FALSE(poster.paste(PasteKeys::ctrlV));
    EXPECT_FALSE(poster.postChord(ModifierKeys::leftControl, X11KeyCodes::toModel(38)));

    poster.requestAccess();
    EXPECT_EQ(poster.access(), Access::asking);
    ASSERT_TRUE(answerDialog(QStringLiteral("Cancel")));
    ASSERT_TRUE(waitFor(poster, Access::refused));
    EXPECT_FALSE(poster.paste(PasteKeys::ctrlV));

    // Asked again, the desktop shows its dialog again.
    poster.requestAccess();
    ASSERT_TRUE(answerDialog(QStringLiteral("Share")));
    ASSERT_TRUE(waitFor(poster, Access::granted));
    // Asking while granted opens no second session.
    poster.requestAccess();
    EXPECT_EQ(poster.access(), Access::granted);

    QList<Access> seen;
    for (const QList<QVariant>& change : changes)
        seen.append(change.first().value<Access>());
    EXPECT_EQ(seen, (QList<Access>{Access::asking, Access::refused, Access::asking, Access::granted}));
    // The portal here (version 1) cannot remember the consent: no token to keep.
    EXPECT_FALSE(settings->contains(PortalKeystrokePoster::kRestoreTokenKey));
}

TEST_F(PortalPoster, PastesIntoANativeWaylandFieldOnEveryChord)
{
    PortalKeystrokePoster poster(*settings);
    poster.requestAccess();
    ASSERT_TRUE(answerDialog(QStringLiteral("Share")));
    ASSERT_TRUE(waitFor(poster, Access::granted));

    // mutter hands an XWayland owner's clipboard to Wayland clients.
    const QString text = QStringLiteral("grüße from the portal");
    QProcess owner;
    owner.start(QStringLiteral("xclip"),
                {QStringLiteral("-quiet"), QStringLiteral("-selection"), QStringLiteral("clipboard")});
    ASSERT_TRUE(owner.waitForStarted(5000));
    owner.write(text.toUtf8());
    owner.closeWriteChannel();

    qputenv("QT_QPA_PLATFORM", "wayland");
    {
        TextFieldProcess field;
        ASSERT_TRUE(waitUntilActive(field));
        field.set(QStringLiteral("> "), 2);
        ASSERT_TRUE(poster.paste(PasteKeys::ctrlV));
        EXPECT_TRUE(QTest::qWaitFor([&] { return field.text() == QStringLiteral("> ") + text; }, 5000))
            << field.text().toStdString();

        // Ctrl+A by its physical key selects everything; Shift+Insert replaces it.
        ASSERT_TRUE(poster.postChord(ModifierKeys::leftControl, X11KeyCodes::toModel(38)));
        ASSERT_TRUE(poster.paste(PasteKeys::shiftInsert));
        EXPECT_TRUE(QTest::qWaitFor([&] { return field.text() == text; }, 5000)) << field.text().toStdString();
    }
    {
        // A terminal takes Ctrl+V as a control character.
        TextFieldProcess terminal({QStringLiteral("--terminal")});
        ASSERT_TRUE(waitUntilActive(terminal));
        ASSERT_TRUE(poster.paste(PasteKeys::ctrlShiftV));
        EXPECT_TRUE(QTest::qWaitFor([&] { return terminal.text() == text; }, 5000)) << terminal.text().toStdString();
    }

    owner.kill();
    owner.waitForFinished(3000);
}

} // namespace

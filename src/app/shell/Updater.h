#pragma once

#include <QObject>
#include <QUrl>

#include <functional>

// Software updates. There is no update framework on Linux desktops, so a
// check opens the release page in the user's browser; installing is left to
// the user or their package manager. Main thread only.
class Updater : public QObject
{
    Q_OBJECT

public:
    // Opens a URL outside the program; false when nothing could open it.
    using Opener = std::function<bool(const QUrl&)>;

    // The desktop's URL handler (the default browser).
    static Opener desktopOpener();

    explicit Updater(Opener opener = desktopOpener(), QUrl releasePage = {}, QObject* parent = nullptr);

    const QUrl& releasePage() const { return m_releasePage; }

    // The user asked whether a newer version exists.
    void checkForUpdates();

Q_SIGNALS:
    // The release page could not be opened; `url` is where the user can go by hand.
    void failed(const QUrl& url);

private:
    Opener m_opener;
    QUrl m_releasePage;
};

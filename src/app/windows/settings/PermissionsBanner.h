#pragma once

#include <QUrl>
#include <QWidget>

#include <functional>

class Permissions;
class QLabel;
class QPushButton;
struct PlatformVocabulary;

// A strip above the settings that says which access Vell lacks and offers a
// way to grant it; hidden while nothing is missing.
class PermissionsBanner : public QWidget
{
    Q_OBJECT

public:
    // `permissions` and `words` must outlive the banner.
    PermissionsBanner(Permissions& permissions, const PlatformVocabulary& words,
                      std::function<bool(const QUrl&)> openUrl, QWidget* parent = nullptr);

    QPushButton* keyboardAccessButton() const { return m_keyboardAccessButton; }
    QPushButton* microphoneButton() const { return m_microphoneButton; }
    bool showsKeyboardAccess() const;
    bool showsMicrophone() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();
    void onMicrophoneButton();

    Permissions& m_permissions;
    const PlatformVocabulary& m_words;
    std::function<bool(const QUrl&)> m_openUrl;
    QWidget* m_keyboardAccessRow;
    QWidget* m_microphoneRow;
    QPushButton* m_keyboardAccessButton;
    QPushButton* m_microphoneButton;
};

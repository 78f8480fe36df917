#pragma once

#include "platform/KeyboardTap.h"
#include "platform/linux/EvdevKeyState.h"

#include <QString>

#include <linux/input.h>

#include <functional>
#include <memory>
#include <vector>

class QFileSystemWatcher;
class QSocketNotifier;

// One open input device, read one event at a time.
class EvdevDevice
{
public:
    enum class Status {
        event,   // `event` holds the next event
        dropped, // events were lost; keysDown() tells the state now
        idle,    // nothing more to read for now
        gone,    // unplugged (or unreadable for good)
    };

    virtual ~EvdevDevice() = default;
    virtual int fileDescriptor() const = 0;
    virtual Status next(input_event& event) = 0;
    virtual EvdevKeyState::Keys keysDown() const = 0;
};

// A device node opened, or why not: `error` is open()'s errno, or 0 for a
// readable node that is not a keyboard.
struct EvdevOpened
{
    std::unique_ptr<EvdevDevice> keyboard;
    int error = 0;
};

using EvdevOpener = std::function<EvdevOpened(const QString& path)>;

// Opens a node read-only through libevdev, and keeps it only if it is a
// keyboard: letter keys or modifier keys, so mice, power buttons and lid
// switches are left alone. Never grabs it.
EvdevOpened openEvdevKeyboard(const QString& path);

// Whether `hasKey` describes a keyboard (it answers for evdev key codes).
bool looksLikeKeyboard(const std::function<bool(unsigned code)>& hasKey);

inline const QString kEvdevFolder = QStringLiteral("/dev/input");

// Why the evdev tap can or cannot read the keyboards, for the settings window.
// Reading /dev/input takes membership in the `input` group, and that group
// can read every keystroke of every application, passwords included: tell the
// user so before suggesting it.
enum class EvdevAccess {
    readable,        // at least one keyboard node opens for reading
    notInInputGroup, // nodes exist, but opening them is refused (EACCES)
    noKeyboards,     // no node in the folder is a keyboard
};

EvdevAccess evdevKeyboardAccess(const QString& folder = kEvdevFolder, const EvdevOpener& opener = openEvdevKeyboard);

// The keyboard tap for Wayland sessions: reads every keyboard among the
// folder's event* nodes, following hot-plug through a watch on the folder,
// with left and right modifiers told apart on any compositor. It only reads
// and never grabs a device, so every key still reaches the applications: it
// cannot swallow, and setSwallowedKeys() is accepted and ignored. A virtual
// keyboard of the compositor never shows up here, so no event is posted.
// Losing every keyboard keeps it installed, waiting for the next one; only
// losing the folder disables it.
class EvdevKeyboardTap final : public KeyboardTap
{
    Q_OBJECT

public:
    explicit EvdevKeyboardTap(std::function<ModifierKeys()> typingModifiers = {}, QString folder = kEvdevFolder,
                              EvdevOpener opener = openEvdevKeyboard, QObject* parent = nullptr);
    ~EvdevKeyboardTap() override;

    // At least one keyboard opens for reading.
    bool hasKeyboardAccess() const override;
    // Fails when the folder cannot be watched or no keyboard opens.
    bool install(Handler handler) override;
    void remove() override;
    bool isInstalled() const override { return m_watcher != nullptr; }
    bool canSwallowKeys() const override { return false; }
    void setSwallowedKeys(const QList<SwallowedKey>&) override {}
    WindowKey windowKey(quint32 nativeScanCode, int qtKey) const override;
    ModifierKeys typingModifiers() const override;

    // Keyboards open now.
    int keyboardCount() const { return int(m_keyboards.size()); }

private:
    struct Keyboard
    {
        int id = 0;
        QString path;
        std::unique_ptr<EvdevDevice> device;
        std::unique_ptr<QSocketNotifier> notifier;
    };

    void rescan();
    void open(const QString& path);
    void read(int id);
    void drop(int id);
    Keyboard* find(int id);
    void deliver(const QList<KeyEvent>& events);
    void lose();

    std::function<ModifierKeys()> m_typingModifiers;
    QString m_folder;
    EvdevOpener m_opener;
    Handler m_handler;
    std::unique_ptr<QFileSystemWatcher> m_watcher;
    std::vector<Keyboard> m_keyboards;
    EvdevKeyState m_state;
    int m_nextId = 1;
};

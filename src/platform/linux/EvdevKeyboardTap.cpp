#include "platform/linux/EvdevKeyboardTap.h"

#include "platform/linux/X11KeyCodes.h"
#include "storage/VellLog.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <type_traits>

namespace {

// A device node read through libevdev, which also replays the state of the
// keys after dropped events.
class LibevdevDevice final : public EvdevDevice
{
public:
    LibevdevDevice(int fd, libevdev* device) : m_fd(fd), m_device(device) {}
    ~LibevdevDevice() override
    {
        libevdev_free(m_device);
        ::close(m_fd);
    }
    LibevdevDevice(const LibevdevDevice&) = delete;
    LibevdevDevice& operator=(const LibevdevDevice&) = delete;

    int fileDescriptor() const override { return m_fd; }

    Status next(input_event& event) override
    {
        const int status = libevdev_next_event(m_device, LIBEVDEV_READ_FLAG_NORMAL, &event);
        if (status == LIBEVDEV_READ_STATUS_SUCCESS)
            return Status::event;
        if (status == LIBEVDEV_READ_STATUS_SYNC) {
            // Bring libevdev's view up to date; keysDown() then reports it whole.
            while (libevdev_next_event(m_device, LIBEVDEV_READ_FLAG_SYNC, &event) == LIBEVDEV_READ_STATUS_SYNC) {
            }
            return Status::dropped;
        }
        return status == -EAGAIN ? Status::idle : Status::gone;
    }

    EvdevKeyState::Keys keysDown() const override
    {
        EvdevKeyState::Keys keys;
        for (unsigned code = 0; code < keys.size(); ++code)
            keys.set(code, libevdev_get_event_value(m_device, EV_KEY, code) != 0);
        return keys;
    }

private:
    int m_fd;
    libevdev* m_device;
};

// The object may be the sender of the signal being handled right now.
template <typename T> void dropLater(std::unique_ptr<T>& object)
{
    if (!object)
        return;
    object->disconnect();
    if constexpr (std::is_same_v<T, QSocketNotifier>)
        object->setEnabled(false); // before its descriptor is closed
    object.release()->deleteLater();
}

QStringList eventNodes(const QString& folder)
{
    // Device nodes are "system" files to QDir.
    const QStringList names = QDir(folder).entryList({QStringLiteral("event*")}, QDir::System | QDir::Files);
    QStringList paths;
    for (const QString& name : names)
        paths.append(folder + u'/' + name);
    return paths;
}

} // namespace

bool looksLikeKeyboard(const std::function<bool(unsigned code)>& hasKey)
{
    static constexpr unsigned kModifiers[] = {KEY_LEFTCTRL,  KEY_RIGHTCTRL,  KEY_LEFTALT,  KEY_RIGHTALT,
                                              KEY_LEFTSHIFT, KEY_RIGHTSHIFT, KEY_LEFTMETA, KEY_RIGHTMETA};
    // The three letter rows of a PC keyboard.
    static constexpr std::pair<unsigned, unsigned> kLetterRows[] = {{KEY_Q, KEY_P}, {KEY_A, KEY_L}, {KEY_Z, KEY_M}};
    if (std::any_of(std::begin(kModifiers), std::end(kModifiers), hasKey))
        return true;
    for (const auto& [first, last] : kLetterRows)
        for (unsigned code = first; code <= last; ++code)
            if (!hasKey(code))
                return false;
    return true;
}

EvdevOpened openEvdevKeyboard(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {nullptr, errno};
    libevdev* device = nullptr;
    if (libevdev_new_from_fd(fd, &device) < 0) {
        ::close(fd);
        return {};
    }
    if (!libevdev_has_event_type(device, EV_KEY) ||
        !looksLikeKeyboard([device](unsigned code) { return libevdev_has_event_code(device, EV_KEY, code) != 0; })) {
        libevdev_free(device);
        ::close(fd);
        return {};
    }
    return {std::make_unique<LibevdevDevice>(fd, device), 0};
}

EvdevAccess evdevKeyboardAccess(const QString& folder, const EvdevOpener& opener)
{
    bool refused = false;
    for (const QString& path : eventNodes(folder)) {
        const EvdevOpened opened = opener(path);
        if (opened.keyboard)
            return EvdevAccess::readable;
        refused = refused || opened.error == EACCES || opened.error == EPERM;
    }
    return refused ? EvdevAccess::notInInputGroup : EvdevAccess::noKeyboards;
}

EvdevKeyboardTap::EvdevKeyboardTap(std::function<ModifierKeys()> typingModifiers, QString folder, EvdevOpener opener,
                                   QObject* parent)
    : KeyboardTap(parent), m_typingModifiers(std::move(typingModifiers)), m_folder(std::move(folder)),
      m_opener(std::move(opener))
{}

EvdevKeyboardTap::~EvdevKeyboardTap()
{
    remove();
}

bool EvdevKeyboardTap::hasKeyboardAccess() const
{
    return evdevKeyboardAccess(m_folder, m_opener) == EvdevAccess::readable;
}

bool EvdevKeyboardTap::install(Handler handler)
{
    remove();
    auto watcher = std::make_unique<QFileSystemWatcher>();
    if (!QFileInfo(m_folder).isDir() || !watcher->addPath(m_folder))
        return false;
    // Created, removed, and given their group after creation: all change the folder.
    connect(watcher.get(), &QFileSystemWatcher::directoryChanged, this, &EvdevKeyboardTap::rescan);
    m_watcher = std::move(watcher);
    rescan();
    if (m_keyboards.empty()) {
        remove();
        return false;
    }
    m_handler = std::move(handler);
    return true;
}

void EvdevKeyboardTap::remove()
{
    for (Keyboard& keyboard : m_keyboards)
        dropLater(keyboard.notifier);
    m_keyboards.clear();
    m_state.clear();
    dropLater(m_watcher);
    m_handler = nullptr;
}

void EvdevKeyboardTap::rescan()
{
    if (!m_watcher)
        return;
    if (!QFileInfo(m_folder).isDir() || m_watcher->directories().isEmpty()) {
        lose();
        return;
    }
    const QStringList nodes = eventNodes(m_folder);
    std::vector<int> removed;
    for (const Keyboard& keyboard : m_keyboards)
        if (!nodes.contains(keyboard.path))
            removed.push_back(keyboard.id);
    for (int id : removed)
        drop(id);
    for (const QString& path : nodes)
        if (std::none_of(m_keyboards.begin(), m_keyboards.end(),
                         [&](const Keyboard& keyboard) { return keyboard.path == path; }))
            open(path);
}

void EvdevKeyboardTap::open(const QString& path)
{
    EvdevOpened opened = m_opener(path);
    if (!opened.keyboard)
        return;
    const int id = m_nextId++;
    m_state.add(id, opened.keyboard->keysDown());
    auto notifier = std::make_unique<QSocketNotifier>(opened.keyboard->fileDescriptor(), QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, [this, id] { read(id); });
    m_keyboards.push_back({id, path, std::move(opened.keyboard), std::move(notifier)});
    VellLog::hotkey().info(QStringLiteral("Reading keyboard %1").arg(path));
    // Events may already wait, and a notifier only tells of new ones.
    read(id);
}

void EvdevKeyboardTap::read(int id)
{
    // The handler may remove the tap, or this keyboard, between two events.
    while (Keyboard* keyboard = find(id)) {
        input_event event{};
        switch (keyboard->device->next(event)) {
        case EvdevDevice::Status::event:
            deliver(m_state.handle(id, event));
            break;
        case EvdevDevice::Status::dropped:
            deliver(m_state.resync(id, keyboard->device->keysDown()));
            break;
        case EvdevDevice::Status::idle:
            return;
        case EvdevDevice::Status::gone:
            drop(id);
            // Its node may already be back under the same name, for a new device.
            QTimer::singleShot(0, this, &EvdevKeyboardTap::rescan);
            return;
        }
    }
}

void EvdevKeyboardTap::drop(int id)
{
    const auto found = std::find_if(m_keyboards.begin(), m_keyboards.end(),
                                    [id](const Keyboard& keyboard) { return keyboard.id == id; });
    if (found == m_keyboards.end())
        return;
    VellLog::hotkey().info(QStringLiteral("Keyboard %1 is gone").arg(found->path));
    dropLater(found->notifier);
    m_keyboards.erase(found);
    // Keys it held are let go, or a modifier would stay held for good.
    deliver(m_state.remove(id));
}

EvdevKeyboardTap::Keyboard* EvdevKeyboardTap::find(int id)
{
    for (Keyboard& keyboard : m_keyboards)
        if (keyboard.id == id)
            return &keyboard;
    return nullptr;
}

void EvdevKeyboardTap::deliver(const QList<KeyEvent>& events)
{
    for (const KeyEvent& event : events) {
        // A copy: the handler may remove the tap, and with it the original.
        const Handler handler = m_handler;
        if (!handler)
            return;
        handler(event);
    }
}

void EvdevKeyboardTap::lose()
{
    VellLog::hotkey().error(QStringLiteral("Can no longer watch %1 for keyboards").arg(m_folder));
    remove();
    Q_EMIT disabled();
}

WindowKey EvdevKeyboardTap::windowKey(quint32 nativeScanCode, int qtKey) const
{
    return X11KeyCodes::windowKey(nativeScanCode, qtKey);
}

ModifierKeys EvdevKeyboardTap::typingModifiers() const
{
    return m_typingModifiers ? m_typingModifiers() : ModifierKeys();
}

# Holds one session of mutter's own RemoteDesktop API open, so the headless
# seat keeps a keyboard between test clients (with-mutter starts it).
import time
import dbus

bus = dbus.SessionBus()
remote = bus.get_object('org.gnome.Mutter.RemoteDesktop', '/org/gnome/Mutter/RemoteDesktop')
path = dbus.Interface(remote, 'org.gnome.Mutter.RemoteDesktop').CreateSession()
session = dbus.Interface(bus.get_object('org.gnome.Mutter.RemoteDesktop', path),
                         'org.gnome.Mutter.RemoteDesktop.Session')
session.Start()
# A tap of Shift makes the device exist on the seat.
session.NotifyKeyboardKeysym(dbus.UInt32(0xffe1), True)
session.NotifyKeyboardKeysym(dbus.UInt32(0xffe1), False)
print('keeper', path, flush=True)
while True:
    time.sleep(3600)

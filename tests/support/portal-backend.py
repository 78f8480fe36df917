# A scripted GlobalShortcuts backend for xdg-desktop-portal, for tests. It
# binds whatever it is asked to and records it; the test drives it through
# org.vell.Test on /org/freedesktop/portal/desktop:
#   Press(s id, b down)  emits Activated (down) or Deactivated for the id
#   Asked() -> as        "id=preferred_trigger" for every shortcut bound so far
#   SetAnswer(u code)    the response code of later BindShortcuts (0 grants)
#   CloseSessions()      ends every session from the desktop's side
import sys, time, dbus, dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

DBusGMainLoop(set_as_default=True)
IMPL = 'org.freedesktop.impl.portal.GlobalShortcuts'
SESSION = 'org.freedesktop.impl.portal.Session'
bus = dbus.SessionBus()
sessions = {}  # session path -> (Session, {id: properties})
asked = []
answer = [0]


class Session(dbus.service.Object):
    @dbus.service.method(SESSION)
    def Close(self):
        sessions.pop(self.__dbus_object_path__, None)
        self.remove_from_connection()

    @dbus.service.signal(SESSION, signature='')
    def Closed(self):
        pass


class Backend(dbus.service.Object):
    @dbus.service.method(IMPL, in_signature='oosa{sv}', out_signature='ua{sv}')
    def CreateSession(self, handle, session_handle, app_id, options):
        sessions[str(session_handle)] = (Session(bus, session_handle), {})
        return 0, {}

    @dbus.service.method(IMPL, in_signature='ooa(sa{sv})sa{sv}', out_signature='ua{sv}')
    def BindShortcuts(self, handle, session_handle, shortcuts, parent_window, options):
        for sid, info in shortcuts:
            asked.append('%s=%s' % (sid, info.get('preferred_trigger', '')))
        if answer[0] != 0:
            return answer[0], {}
        out = []
        for sid, info in shortcuts:
            sessions[str(session_handle)][1][str(sid)] = info
            trigger = str(info.get('preferred_trigger', ''))
            out.append((sid, {'description': info.get('description', ''), 'trigger_description': 'Press ' + trigger}))
        return 0, {'shortcuts': dbus.Array(out, signature='(sa{sv})')}

    @dbus.service.method(IMPL, in_signature='oo', out_signature='ua{sv}')
    def ListShortcuts(self, handle, session_handle):
        binds = sessions.get(str(session_handle), (None, {}))[1]
        out = [(k, {'description': v.get('description', '')}) for k, v in binds.items()]
        return 0, {'shortcuts': dbus.Array(out, signature='(sa{sv})')}

    @dbus.service.signal(IMPL, signature='osta{sv}')
    def Activated(self, session_handle, shortcut_id, timestamp, options):
        pass

    @dbus.service.signal(IMPL, signature='osta{sv}')
    def Deactivated(self, session_handle, shortcut_id, timestamp, options):
        pass

    @dbus.service.method('org.vell.Test', in_signature='sb')
    def Press(self, shortcut_id, down):
        for path, (_, binds) in sessions.items():
            if shortcut_id in binds:
                stamp = dbus.UInt64(int(time.time() * 1000))
                (self.Activated if down else self.Deactivated)(dbus.ObjectPath(path), shortcut_id, stamp, {})

    @dbus.service.method('org.vell.Test', out_signature='as')
    def Asked(self):
        return dbus.Array(asked, signature='s')

    @dbus.service.method('org.vell.Test', in_signature='u')
    def SetAnswer(self, code):
        answer[0] = int(code)

    @dbus.service.method('org.vell.Test')
    def CloseSessions(self):
        for session, _ in list(sessions.values()):
            session.Closed()
            session.Close()

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature='ss', out_signature='v')
    def Get(self, iface, prop):
        return dbus.UInt32(1)

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature='s', out_signature='a{sv}')
    def GetAll(self, iface):
        return {'version': dbus.UInt32(1)}


name = dbus.service.BusName(sys.argv[1], bus)
Backend(bus, '/org/freedesktop/portal/desktop')
GLib.MainLoop().run()

# Answers the RemoteDesktop portal's consent dialog (a GTK window of the GNOME
# portal backend) through AT-SPI: presses the button named by the argument
# ("Share" or "Cancel"). Before Share it ticks every check box, "Allow remote
# interaction" among them, without which the session has no keyboard.
# Exits 0 once pressed, 1 while there is no such dialog.
import sys
import time
import gi

gi.require_version('Atspi', '2.0')
from gi.repository import Atspi

Atspi.set_timeout(800, 3000)
wanted = sys.argv[1] if len(sys.argv) > 1 else 'Share'


def press(accessible, depth=0):
    if accessible is None or depth > 25:
        return False
    try:
        role = accessible.get_role_name()
        name = (accessible.get_name() or '').replace('_', '')
        if role == 'check box' and wanted == 'Share' and \
                not accessible.get_state_set().contains(Atspi.StateType.CHECKED):
            accessible.do_action(0)
            time.sleep(0.5)
        if role in ('push button', 'button') and wanted in name.split():
            accessible.do_action(0)
            return True
        return any(press(accessible.get_child_at_index(i), depth + 1) for i in range(accessible.get_child_count()))
    except gi.repository.GLib.Error:
        return False


desktop = Atspi.get_desktop(0)
for index in range(desktop.get_child_count()):
    application = desktop.get_child_at_index(index)
    if application is not None and 'portal' in (application.get_name() or '') and press(application):
        sys.exit(0)
sys.exit(1)

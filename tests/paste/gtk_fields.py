#!/usr/bin/python3
# A small GTK 3 application with the fields the paste tests aim at: an entry, a text
# view, a password entry and a button. It prints its X window id and, for each field,
# its accessible name and centre in window coordinates, then "ready".
import gi

gi.require_version("Gtk", "3.0")
gi.require_version("GdkX11", "3.0")
from gi.repository import GdkX11, GLib, Gtk  # noqa: E402,F401

window = Gtk.Window(title="Paste GTK Fields")
window.set_default_size(420, 360)
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=6)
window.add(box)

area = Gtk.TextView()
area.set_size_request(-1, 120)
secret = Gtk.Entry(visibility=False)
fields = [(Gtk.Entry(), "line"), (area, "area"), (secret, "secret"),
          (Gtk.Button(label="Button"), "button")]
for widget, name in fields:
    widget.get_accessible().set_name(name)
    box.pack_start(widget, widget is area, True, 0)
window.connect("destroy", Gtk.main_quit)


def announce(*_):
    print("window", window.get_window().get_xid())
    for widget, name in fields:
        allocation = widget.get_allocation()
        x, y = widget.translate_coordinates(
            window, allocation.width // 2, allocation.height // 2)
        print(name, x, y)
    print("ready", flush=True)
    return False


window.connect("map-event", lambda *_: GLib.idle_add(announce))
window.show_all()
Gtk.main()

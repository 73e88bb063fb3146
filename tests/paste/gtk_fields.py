#!/usr/bin/python3
# A small GTK application with the fields the paste tests aim at: an entry, a text
# view, a password entry and a button. It prints its X window id and, for each field,
# its accessible name and centre in window coordinates, then "ready".
#   gtk_fields.py [3|4]   the GTK major version, 3 unless given
import sys

import gi

version = sys.argv[1] if len(sys.argv) > 1 else "3"
gi.require_version("Gtk", version + ".0")
gi.require_version("GdkX11", version + ".0")
from gi.repository import GdkX11, GLib, Gtk  # noqa: E402,F401

gtk4 = version == "4"
window = Gtk.Window(title="Paste GTK %s Fields" % version, default_width=420, default_height=360)
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=6)
area = Gtk.TextView(height_request=120, vexpand=True)
secret = Gtk.PasswordEntry() if gtk4 else Gtk.Entry(visibility=False)
fields = [(Gtk.Entry(), "line"), (area, "area"), (secret, "secret"),
          (Gtk.Button(label="Button"), "button")]
for widget, name in fields:
    if gtk4:
        widget.update_property([Gtk.AccessibleProperty.LABEL], [name])
        box.append(widget)
    else:
        widget.get_accessible().set_name(name)
        box.pack_start(widget, widget is area, True, 0)


def announce(*_):
    print("window", (window.get_surface() if gtk4 else window.get_window()).get_xid())
    for widget, name in fields:
        width, height = widget.get_allocated_width(), widget.get_allocated_height()
        x, y = widget.translate_coordinates(window, width // 2, height // 2)[-2:]
        print(name, int(x), int(y))
    print("ready", flush=True)
    return False


if gtk4:
    window.set_child(box)
    # Laid out some time after mapping; a moment later the sizes are final.
    window.connect("map", lambda *_: GLib.timeout_add(200, announce))
    window.present()
else:
    window.add(box)
    window.connect("map-event", lambda *_: GLib.idle_add(announce))
    window.show_all()
GLib.MainLoop().run()

#!/usr/bin/python3
# Prints every text the windows of the application with the given process show,
# read through AT-SPI, one a line; fails when it shows none.
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def texts(node, depth=0):
    if node is None or depth > 12:
        return
    name = node.get_name()
    if name:
        yield name
    for i in range(node.get_child_count()):
        yield from texts(node.get_child_at_index(i), depth + 1)


pid = int(sys.argv[1])
desktop = Atspi.get_desktop(0)
found = []
for i in range(desktop.get_child_count()):
    application = desktop.get_child_at_index(i)
    if application is not None and application.get_process_id() == pid:
        found = list(texts(application))
print("\n".join(found))
sys.exit(0 if found else 1)

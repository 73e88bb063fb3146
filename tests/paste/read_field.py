#!/usr/bin/python3
# Prints the text of the element with the given accessible name in the application
# of the given process, read through AT-SPI from this separate process.
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def find(node, name, depth=0):
    if node is None or depth > 40:
        return None
    if node.get_name() == name and node.get_text_iface() is not None:
        return node
    for i in range(node.get_child_count()):
        found = find(node.get_child_at_index(i), name, depth + 1)
        if found is not None:
            return found
    return None


pid, name = int(sys.argv[1]), sys.argv[2]
desktop = Atspi.get_desktop(0)
for i in range(desktop.get_child_count()):
    application = desktop.get_child_at_index(i)
    if application is not None and application.get_process_id() == pid:
        element = find(application, name)
        if element is not None:
            text = element.get_text_iface()
            sys.stdout.write(text.get_text(0, text.get_character_count()))
            sys.exit(0)
sys.exit(1)

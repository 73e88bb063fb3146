#!/usr/bin/python3
# Reads what the application of the given process shows, through AT-SPI from this
# separate process:
#   read_field.py PID NAME   prints the text of the element with that accessible name
#   read_field.py PID        prints every name its windows show, one a line
# and fails when there is nothing to print.
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def walk(node, depth=0):
    if node is not None and depth <= 40:
        yield node
        for i in range(node.get_child_count()):
            yield from walk(node.get_child_at_index(i), depth + 1)


pid, name = int(sys.argv[1]), sys.argv[2] if len(sys.argv) > 2 else None
nodes = [node for application in walk(Atspi.get_desktop(0), 39)
         if application.get_process_id() == pid for node in walk(application)]
if name is None:
    shown = [node.get_name() for node in nodes if node.get_name()]
    print("\n".join(shown))
    sys.exit(0 if shown else 1)
for text in (node.get_text_iface() for node in nodes if node.get_name() == name):
    if text:
        sys.stdout.write(text.get_text(0, text.get_character_count()))
        sys.exit(0)
sys.exit(1)

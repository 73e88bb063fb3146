#!/usr/bin/python3
# Prints the text of the tool tip the application of the given process shows, read
# through AT-SPI; fails when it shows none.
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

pid = int(sys.argv[1])
desktop = Atspi.get_desktop(0)
for i in range(desktop.get_child_count()):
    application = desktop.get_child_at_index(i)
    if application is None or application.get_process_id() != pid:
        continue
    for j in range(application.get_child_count()):
        window = application.get_child_at_index(j)
        if window is not None and window.get_role() == Atspi.Role.TOOL_TIP:
            print(window.get_name())
            sys.exit(0)
sys.exit(1)

#!/usr/bin/env python3
"""Reads the client's windows from outside, as a screen reader does: over the AT-SPI accessibility bus.

Usage: atspi_read.py APP_NAME SECONDS
Prints one line per object of the application's tree, indented by depth: "role|name|description|states".
Exits 1 when no application of that name appears on the bus within SECONDS, 2 when the accessibility bus
cannot be reached at all.
"""
import sys
import time

import dbus

ACCESSIBLE = "org.a11y.atspi.Accessible"
ROOT = "/org/a11y/atspi/accessible/root"
# The states a reader announces for a field or button (AT-SPI StateType numbers).
STATES = {7: "editable", 8: "enabled", 11: "focusable", 12: "focused", 25: "showing", 30: "visible"}


def a11y_bus():
    session = dbus.SessionBus()
    launcher = session.get_object("org.a11y.Bus", "/org/a11y/bus")
    address = dbus.Interface(launcher, "org.a11y.Bus").GetAddress()
    return dbus.bus.BusConnection(str(address))


def prop(obj, name):
    return str(obj.Get(ACCESSIBLE, name, dbus_interface="org.freedesktop.DBus.Properties"))


def states(acc):
    words = []
    for i, bits in enumerate(acc.GetState()):
        for bit in range(32):
            if int(bits) & (1 << bit) and (i * 32 + bit) in STATES:
                words.append(STATES[i * 32 + bit])
    return ",".join(words)


def walk(bus, name, path, depth, out, seen):
    if (name, path) in seen or depth > 40:
        return
    seen.add((name, path))
    obj = bus.get_object(name, path, introspect=False)
    acc = dbus.Interface(obj, ACCESSIBLE)
    out.append("%s%s|%s|%s|%s" % ("  " * depth, acc.GetRoleName(), prop(obj, "Name"), prop(obj, "Description"),
                                  states(acc)))
    for child_name, child_path in acc.GetChildren():
        walk(bus, str(child_name), str(child_path), depth + 1, out, seen)


def find_app(bus, app_name):
    registry = bus.get_object("org.a11y.atspi.Registry", ROOT, introspect=False)
    for name, path in dbus.Interface(registry, ACCESSIBLE).GetChildren():
        obj = bus.get_object(str(name), str(path), introspect=False)
        try:
            if prop(obj, "Name") == app_name:
                return str(name), str(path)
        except dbus.DBusException:
            continue  # an application that left meanwhile
    return None


def main():
    app_name, seconds = sys.argv[1], float(sys.argv[2])
    try:
        bus = a11y_bus()
    except dbus.DBusException as e:
        print("no accessibility bus: %s" % e)
        return 2
    deadline = time.monotonic() + seconds
    while True:
        app = find_app(bus, app_name)
        if app:
            out = []
            walk(bus, app[0], app[1], 0, out, set())
            # Qt joins with its application object first and adds the windows as they are announced.
            if len(out) > 1:
                print("\n".join(out))
                return 0
        if time.monotonic() > deadline:
            print("%s did not appear on the accessibility bus within %g s" % (app_name, seconds))
            return 1
        time.sleep(0.2)


if __name__ == "__main__":
    sys.exit(main())

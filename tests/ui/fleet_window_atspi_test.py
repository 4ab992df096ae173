#!/usr/bin/env python3
"""The fleet window end to end, driven as a screen reader would drive it:
through the platform's accessibility tree (AT-SPI), by the visible names of
its controls. Two simulated stations are published as ports; the test
chooses both ports, presses "Начать", waits until both rows say the station
was moved and the day's record counts them, and presses "Остановить".

Run by fleet_window_atspi_test.sh inside a private X server and D-Bus session.
Arguments: the rechannel-fleet and rechannel-cli executables."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import pyatspi

LIMIT = 45.0
MOVED = "Переведена на новую частоту"


def fail(message):
    print("fleet-window-atspi: " + message, file=sys.stderr)
    sys.exit(1)


def wait_for(what, check, limit=LIMIT, fail_with=None):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        found = check()
        if found:
            return found
        time.sleep(0.2)
    fail("timed out waiting for " + what + (": the window shows\n" + fail_with() if fail_with else ""))


def shown(root):
    """Every named node's role and name, for a failure's message."""
    lines = []
    for node in walk(root):
        try:
            if node.name:
                lines.append("  %s: %s" % (node.getRoleName(), node.name))
        except Exception:
            continue
    return "\n".join(lines)


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    try:
        count = node.childCount
    except Exception:
        return
    for i in range(count):
        try:
            child = node.getChildAtIndex(i)
        except Exception:
            continue
        yield from walk(child, depth + 1)


def application(name):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == name:
            return app
    return None


def named(root, name, role=None):
    for node in walk(root):
        try:
            if node.name == name and (role is None or node.getRole() == role):
                return node
        except Exception:
            continue
    return None


def names_starting(root, prefix):
    found = []
    for node in walk(root):
        try:
            if node.name and node.name.startswith(prefix):
                found.append(node.name)
        except Exception:
            continue
    return found


def press(node):
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i) in ("Press", "press", "Toggle", "toggle", "click"):
            action.doAction(i)
            return
    fail("'%s' offers no press action" % node.name)


def enabled(node):
    return node.getState().contains(pyatspi.STATE_ENABLED)


def main():
    root = tempfile.mkdtemp(prefix="fleet-atspi-")
    # Installed as the package installs it: the window finds its
    # rechannel-cli beside its own executable.
    bindir = os.path.join(root, "bin")
    os.makedirs(bindir)
    fleet, cli = os.path.join(bindir, "rechannel-fleet"), os.path.join(bindir, "rechannel-cli")
    shutil.copy2(sys.argv[1], fleet)
    shutil.copy2(sys.argv[2], cli)
    env = dict(os.environ)
    env["HOME"] = os.path.join(root, "home")
    env["XDG_RUNTIME_DIR"] = os.path.join(root, "runtime")
    env["XDG_CONFIG_HOME"] = os.path.join(root, "home", ".config")
    for d in (env["HOME"], env["XDG_RUNTIME_DIR"]):
        os.makedirs(d, mode=0o700)
    env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
    env["QT_ACCESSIBILITY"] = "1"
    env["QT_QPA_PLATFORM"] = "xcb"
    children = []
    try:
        children.append(subprocess.Popen([cli, "simulate", "--count", "2", "--publish", "Stand"], env=env,
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        ports = os.path.join(env["XDG_RUNTIME_DIR"], "rechannel-ports")
        wait_for("the simulated stations",
                 lambda: all(os.path.islink(os.path.join(ports, n)) for n in ("Stand 1", "Stand 2")))
        # The accessibility bus and its registry up before the window starts,
        # so that the window registers with them as it comes up.
        pyatspi.Registry.getDesktop(0).childCount
        children.append(subprocess.Popen([fleet], env=env, stdout=subprocess.DEVNULL))
        app = wait_for("rechannel-fleet in the accessibility tree", lambda: application("rechannel-fleet"))
        window = wait_for("the window", lambda: named(app, "Перевод парка станций", pyatspi.ROLE_FRAME))
        wait_for("both ports' rows", lambda: named(window, "Stand 1") and named(window, "Stand 2"))

        # Both ports chosen: every port whose name holds "Stand".
        match = named(window, "Имя порта содержит", pyatspi.ROLE_TEXT)
        if match is None:
            fail("no text field named 'Имя порта содержит'")
        match.queryEditableText().setTextContents("Stand")
        press(wait_for("'Все порты'", lambda: named(window, "Все порты", pyatspi.ROLE_CHECK_BOX)))
        for port in ("Stand 1", "Stand 2"):
            cell = named(window, port)
            wait_for(port + " checked", lambda: cell.getState().contains(pyatspi.STATE_CHECKED))

        press(named(window, "Начать", pyatspi.ROLE_PUSH_BUTTON))
        moved = lambda: len(names_starting(window, MOVED)) >= 4
        wait_for("both stations moved", moved, fail_with=lambda: shown(window))
        counters = wait_for("the day's counters",
                            lambda: [n for n in names_starting(window, "Сегодня:") if "переведено 2," in n])
        print("fleet-window-atspi: " + counters[0])

        stop = named(window, "Остановить", pyatspi.ROLE_PUSH_BUTTON)
        press(stop)
        start = named(window, "Начать", pyatspi.ROLE_PUSH_BUTTON)
        wait_for("the work to stop", lambda: enabled(start) and not enabled(stop))
        print("fleet-window-atspi: both stations moved, the record counts them, stopped")
    finally:
        for child in reversed(children):
            child.send_signal(signal.SIGTERM)
            try:
                child.wait(10)
            except subprocess.TimeoutExpired:
                child.kill()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()

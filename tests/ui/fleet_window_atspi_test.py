#!/usr/bin/env python3
"""The fleet window end to end, driven as a screen reader would drive it:
through the platform's accessibility tree (AT-SPI), by the visible names of
its controls. Two simulated stations are published as ports. The test ticks
one port by its check box ("Toggle"), presses "Начать" and reads that port's
outcome while the other is left alone, opens the run's trace with Enter on
its row of the day's record, ticks the second port, reads its outcome and the
day's counters, and presses "Остановить".

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
# The port table's columns.
PORT, ADDRESS, PHASE, OUTCOME = 0, 2, 3, 4
KEY_TAB, KEY_RETURN = 0xff09, 0xff0d   # X keysyms


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


def port_names(table):
    cells = table.queryTable()
    names = []
    for row in range(cells.nRows):
        cell = cells.getAccessibleAt(row, PORT)
        names.append(cell.name if cell is not None else None)
    return names


def row_of(table, port):
    """The row of `port` in the port table."""
    names = port_names(table)
    if port not in names:
        fail("no row for '%s' in the port table, only %s" % (port, names))
    return names.index(port)


def row_cell(table, port):
    """The port cell of `port`'s row: its check box."""
    return table.queryTable().getAccessibleAt(row_of(table, port), PORT)


def column_text(table, port, column):
    return table.queryTable().getAccessibleAt(row_of(table, port), column).name


def record_row(record, row):
    """A row of the day's record as read: its port, address and outcome."""
    cells = record.queryTable()
    return [cells.getAccessibleAt(row, column).name for column in (1, 2, 3)]


def tick(table, port, checkable=False):
    """Ticks `port` by its check box's own action, as a screen reader does;
    `checkable`: the bridge tells a check box's checkable state."""
    cell = row_cell(table, port)
    if cell.getRole() != pyatspi.ROLE_CHECK_BOX:
        fail("'%s' is a %s, not a check box" % (port, cell.getRoleName()))
    state = cell.getState()
    if (checkable and not state.contains(pyatspi.STATE_CHECKABLE)) or state.contains(pyatspi.STATE_CHECKED):
        fail("'%s' is not an unticked check box: %s" % (port, [pyatspi.stateToString(s) for s in state.getStates()]))
    action = cell.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    if "Toggle" not in names:
        fail("'%s' offers no Toggle, only %s" % (port, names))
    action.doAction(names.index("Toggle"))
    wait_for(port + " checked", lambda: row_cell(table, port).getState().contains(pyatspi.STATE_CHECKED))


def dialog_named(app, prefix):
    for node in walk(app):
        try:
            if node.getRole() == pyatspi.ROLE_DIALOG and node.name.startswith(prefix):
                return node
        except Exception:
            continue
    return None


def activate(window, label):
    """Makes the window the one that takes the keyboard, as a window manager
    does when it maps it (the private X server runs none): a click on the
    label `label`, which does nothing else."""
    extents = named(window, label, pyatspi.ROLE_LABEL).queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    pyatspi.Registry.generateMouseEvent(extents.x + 2, extents.y + extents.height // 2, "b1c")
    wait_for("the window active", lambda: window.getState().contains(pyatspi.STATE_ACTIVE))


def open_trace_with_enter(app, window, record, address):
    """Moves the focus to the record as a keyboard user does (Tab from the
    check box above it: the first row becomes current) and presses Enter:
    the run's trace opens, names the station, and closes with «Закрыть»."""
    counters = [n for n in names_starting(window, "Сегодня:")][0]
    activate(window, counters)
    above = named(window, "только требующие внимания", pyatspi.ROLE_CHECK_BOX)
    above.queryComponent().grabFocus()
    wait_for("the focus on the box above the record", lambda: above.getState().contains(pyatspi.STATE_FOCUSED))
    pyatspi.Registry.generateKeyboardEvent(KEY_TAB, "", pyatspi.KEY_SYM)
    first = lambda: record.queryTable().getAccessibleAt(0, 0)
    wait_for("the record's first row current", lambda: first().getState().contains(pyatspi.STATE_FOCUSED))
    pyatspi.Registry.generateKeyboardEvent(KEY_RETURN, "", pyatspi.KEY_SYM)
    dialog = wait_for("the trace opened by Enter", lambda: dialog_named(app, "Запись обмена"),
                      fail_with=lambda: shown(app))
    text = named(dialog, "Запись обмена", pyatspi.ROLE_TEXT)
    if text is None:
        fail("the trace's dialog shows no text: " + shown(dialog))
    trace = text.queryText().getText(0, -1)
    if "station address: %s" % address not in trace:
        fail("the trace opened is not the run's of station %s:\n%s" % (address, trace[-400:]))
    close = named(dialog, "Закрыть", pyatspi.ROLE_PUSH_BUTTON)
    if close is None:
        fail("the trace's dialog has no «Закрыть»: " + shown(dialog))
    press(close)
    wait_for("the trace closed", lambda: dialog_named(app, "Запись обмена") is None)
    print("fleet-window-atspi: Enter opened the trace of station " + address)


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
        published = os.path.join(env["XDG_RUNTIME_DIR"], "rechannel-ports")
        wait_for("the simulated stations",
                 lambda: all(os.path.islink(os.path.join(published, n)) for n in ("Stand 1", "Stand 2")))
        # The accessibility bus and its registry up before the window starts,
        # so that the window registers with them as it comes up.
        pyatspi.Registry.getDesktop(0).childCount
        children.append(subprocess.Popen([fleet], env=env, stdout=subprocess.DEVNULL))
        app = wait_for("rechannel-fleet in the accessibility tree", lambda: application("rechannel-fleet"))
        window = wait_for("the window", lambda: named(app, "Перевод парка станций", pyatspi.ROLE_FRAME))
        wait_for("both ports' rows", lambda: named(window, "Stand 1") and named(window, "Stand 2"))

        ports = wait_for("the ports table", lambda: named(window, "Порты", pyatspi.ROLE_TABLE))
        record = wait_for("the day's record", lambda: named(window, "Запуски за сегодня", pyatspi.ROLE_TABLE))

        # One port ticked by its check box, as a screen reader ticks it. Its
        # cell reads as the window's own check box does ("Все порты"):
        # checkable wherever the platform's bridge tells that of a check box.
        real = named(window, "Все порты", pyatspi.ROLE_CHECK_BOX).getState().contains(pyatspi.STATE_CHECKABLE)
        tick(ports, "Stand 1", real)
        if row_cell(ports, "Stand 2").getState().contains(pyatspi.STATE_CHECKED):
            fail("'Stand 2' is checked although only 'Stand 1' was ticked")
        press(named(window, "Начать", pyatspi.ROLE_PUSH_BUTTON))
        wait_for("the outcome of Stand 1", lambda: column_text(ports, "Stand 1", OUTCOME).startswith(MOVED),
                           fail_with=lambda: shown(window))
        address = column_text(ports, "Stand 1", ADDRESS)
        if column_text(ports, "Stand 2", OUTCOME) or column_text(ports, "Stand 2", PHASE):
            fail("'Stand 2' was worked although only 'Stand 1' was ticked: " + shown(window))
        wait_for("the run in the day's record",
                 lambda: record.queryTable().nRows == 1 and record_row(record, 0) == ["Stand 1", address, MOVED],
                 fail_with=lambda: shown(record))
        print("fleet-window-atspi: Stand 1 ticked alone and moved (station %s), Stand 2 left alone" % address)

        # Enter on the record's row opens that run's trace.
        open_trace_with_enter(app, window, record, address)

        # The second port ticked while the work goes on is taken at once.
        tick(ports, "Stand 2")
        wait_for("the outcome of Stand 2", lambda: column_text(ports, "Stand 2", OUTCOME).startswith(MOVED),
                 fail_with=lambda: shown(window))
        counters = wait_for("the day's counters",
                            lambda: [n for n in names_starting(window, "Сегодня:") if "переведено 2," in n])
        print("fleet-window-atspi: " + counters[0])

        stop = named(window, "Остановить", pyatspi.ROLE_PUSH_BUTTON)
        press(stop)
        start = named(window, "Начать", pyatspi.ROLE_PUSH_BUTTON)
        wait_for("the work to stop", lambda: enabled(start) and not enabled(stop))
        print("fleet-window-atspi: each outcome read, the trace opened with Enter, stopped")
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

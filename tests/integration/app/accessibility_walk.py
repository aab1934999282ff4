#!/usr/bin/python3
# mensajes as a screen reader and a keyboard user meet it, through the
# accessibility bus (pyatspi) and real keys (xdotool): every control named,
# with a role and an action; no layout box read; the tabs switched through
# their accessibility action, the arrows and Ctrl+Page Up/Down; the ad's link
# opened by the keyboard, the browser taking the focus and reading Spanish,
# Escape closing it and giving the focus back; no page keeping the focus.
#
# Run by AccessibilityTest.cpp with mensajes (its process id the argument)
# already started on the session bus named by DBUS_SESSION_BUS_ADDRESS. Prints
# each step; exits 1 on the first failure.
import re
import subprocess
import sys
import time

import pyatspi
from gi.repository import Atspi

APP = "org.nimbra.Mensajes"
TABS = ["SMS Aurora", "SMS Web", "Sin conexión", "Ayuda"]
# The browser's toolbar in Spanish; the fifth item is the spinner or Reload.
TOOLBAR = ["Atrás", "Adelante", ("Cargando", "Recargar"), "Abrir en el navegador", "Hecho"]
CONTROLS = {"push button", "page tab", "toggle button", "check box", "radio button"}
# What the toolkit reads for a widget with no name of its own.
CLASS_NAME = re.compile(r"^(Nimbra(Frame|Button)|Gtk[A-Z][A-Za-z]*|WebKit[A-Z][A-Za-z]*)$")


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(what, condition, seconds=20):
    # Polls the condition until it gives something true; fails after the time.
    deadline = time.monotonic() + seconds
    while True:
        try:
            found = condition()
        except Exception:  # the tree changes under the walk
            found = None
        if found:
            return found
        check(time.monotonic() <= deadline, "timed out waiting for " + what)
        time.sleep(0.1)


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    apps = map(desktop.getChildAtIndex, range(desktop.childCount))
    app = next((a for a in apps if a is not None and a.name == APP), None)
    if app is not None:
        app.clear_cache()
    return app


def nodes(node):
    yield node
    for child in map(node.getChildAtIndex, range(node.childCount)):
        if child is not None:
            yield from nodes(child)


def has(node, state):
    return node.getState().contains(state)


def actions(node):
    try:
        action = node.queryAction()
    except NotImplementedError:
        return []
    return [action.getName(i) for i in range(action.nActions)]


def ancestors(node):
    while node.parent is not None:
        node = node.parent
        yield node


def describe(node):
    return "%s %r" % (node.getRoleName(), node.name)


def first(test):
    # The application's first node that passes the test.
    app = application()
    return next((n for n in nodes(app) if test(n)), None) if app else None


def find(role, name=None):
    return first(lambda n: n.getRoleName() == role and (name is None or n.name == name))


def focus_is(test):
    node = first(lambda n: has(n, pyatspi.STATE_FOCUSED))
    return node if node is not None and test(node) else None


def in_ad(node):
    return any(a.getRoleName() == "panel" and a.name == "Anuncio" for a in ancestors(node))


def ad_shown():
    ad = find("panel", "Anuncio")
    return ad is not None and any(n.getRoleName() == "filler" and n.name for n in nodes(ad))


def tab_list():
    return [t for t in nodes(find("page tab list")) if t.getRoleName() == "page tab"]


def selected_tab():
    chosen = [t.name for t in tab_list() if has(t, pyatspi.STATE_SELECTED)]
    return chosen[0] if len(chosen) == 1 else None


def tab_focused(name):
    return lambda: focus_is(lambda n: n.getRoleName() == "page tab" and n.name == name) and selected_tab() == name


def keys(*names):
    for name in names:
        subprocess.run(["xdotool", "key", name], check=True)


def read_everything():
    # Every control named, with a role and an action; no widget class read.
    for node in nodes(application()):
        role = node.getRoleName()
        check(not CLASS_NAME.match(node.name), "a %s reads its class name %r" % (role, node.name))
        if role in CONTROLS:
            check(node.name.strip(), "a %s without a name" % role)
            check(actions(node), "%s has no action" % describe(node))
        if has(node, pyatspi.STATE_FOCUSABLE) or has(node, pyatspi.STATE_FOCUSED):
            check(node.name.strip() and role not in ("unknown", "invalid"), "focusable %s unnamed" % describe(node))
        if role == "progress bar":  # shown only while it turns
            check(node.name.strip(), "a spinner without a name")
            check(has(node, pyatspi.STATE_BUSY), "spinner %r not busy" % node.name)


def step(text):
    print("==", text, flush=True)


def main():
    step("the application on the accessibility bus")
    wait_for(APP, application, 60)
    # Keys go where the pointer is on a display without a window manager.
    window = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid", sys.argv[1]],
                            check=True, capture_output=True, text=True).stdout.split()[0]
    subprocess.run(["xdotool", "mousemove", "--window", window, "160", "100"], check=True)
    wait_for("the ad", ad_shown)
    wait_for("the first page", lambda: find("filler", "Nimbra landing page 1"))
    read_everything()
    tabs = tab_list()
    check([t.name for t in tabs] == TABS, "tabs read %r" % [t.name for t in tabs])
    check(selected_tab() == TABS[0], "the first tab is not read as selected")

    step("tabs switched through their accessibility action")
    tabs[3].queryAction().doAction(0)
    help_button = wait_for("the help screen", lambda: find("push button", "Escribir al autor"))
    check(selected_tab() == "Ayuda" and actions(help_button), "the help screen's button")
    read_everything()
    tabs[0].queryAction().doAction(0)
    wait_for("the first tab again", lambda: selected_tab() == TABS[0] and find("panel", "Anuncio"))

    step("Ctrl+Page Down and Up from the page, then the arrows in the tab list")
    # Left goes round the end.
    for key, tab in [("ctrl+Page_Down", "SMS Web"), ("ctrl+Page_Up", "SMS Aurora"), ("Left", "Ayuda"),
                     ("Right", "SMS Aurora")]:
        keys(key)
        wait_for("%s chosen and focused by %s" % (tab, key), tab_focused(tab))

    step("Tab through the page (a link in it) to the ad")
    keys("Tab")
    wait_for("the page", lambda: focus_is(lambda n: n.name == "Nimbra landing page 1"))
    keys("Tab", "Tab")
    ad = wait_for("the ad", lambda: focus_is(in_ad))
    ad_name = ad.name

    step("the ad's link by the keyboard: the browser comes and takes the focus")
    keys("Tab", "Return")
    toolbar = wait_for("the browser", lambda: find("tool bar"))
    wait_for("the focus in the browser", lambda: focus_is(lambda n: find("tool bar") is not None and not in_ad(n)))
    names = [b.name for b in nodes(toolbar) if b.getRoleName() == "push button"]
    check(len(names) == len(TOOLBAR) and all(n == t or n in t for n, t in zip(names, TOOLBAR)),
          "the toolbar reads %r" % names)
    check(find("page tab list") is None and find("panel", "Anuncio") is None,
          "what the browser covers is still reachable")
    read_everything()

    step("Escape: the browser goes, the focus is back on the ad")
    keys("Escape")
    wait_for("the browser gone", lambda: find("tool bar") is None)
    wait_for("the focus back on the ad", lambda: focus_is(lambda n: in_ad(n) and n.name == ad_name))

    step("no page keeps the focus: into the form from the ad and out after its last field")
    # A page is entered at the document itself; one more key reaches its first
    # (or, backwards, its last) element.
    keys("ctrl+Page_Down", "ctrl+Page_Down")
    wait_for("Sin conexión chosen and focused", tab_focused("Sin conexión"))
    wait_for("its ad", ad_shown)
    keys("shift+Tab")
    wait_for("the ad, backwards from the tab", lambda: focus_is(in_ad))
    keys("shift+Tab", "shift+Tab")  # its link, then out of it
    wait_for("the form, backwards from the ad", lambda: focus_is(lambda n: not in_ad(n) and n.getRoleName() == "filler"))
    keys("shift+Tab", "Tab")  # the form's last field, then on
    wait_for("the ad after the form's last field", lambda: focus_is(in_ad))
    keys("Tab", "Tab")  # the ad's link, then out of it
    wait_for("the tab list after the ad", tab_focused("Sin conexión"))
    read_everything()
    print("accessibility walk: all steps passed", flush=True)


if __name__ == "__main__":
    try:
        main()
    except Failure as failure:
        print("FAILED:", failure, flush=True)
        app = application()
        for node in nodes(app) if app else []:  # what was there, for the log
            depth = sum(1 for _ in ancestors(node))
            states = [pyatspi.stateToString(s) for s in node.getState().getStates()]
            print("  " * depth + describe(node), " ".join(states), flush=True)
        sys.exit(1)

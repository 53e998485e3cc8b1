#!/usr/bin/python3
"""Drives the Lotrix window the way a screen reader user does, through the accessibility bus
alone: finds the fields by their names, types through the editable-text interface, presses
buttons through their actions, reads the notice and closes it.

    atspi_driver.py FOLDER      (FOLDER holds hits.txt; lotrixGUI runs with accessibility on)
"""
import os
import sys
import time

import pyatspi

folder = sys.argv[1]
passes = failures = 0


def check(what, condition):
    global passes, failures
    if condition:
        passes += 1
    else:
        failures += 1
        print(f"FAIL: {what}")


def wait_for(find, seconds=30):
    """What `find` returns once it returns something, or None after `seconds`."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            found = find()
        except Exception:  # the tree changes under us while a window comes or goes
            found = None
        if found:
            return found
        time.sleep(0.1)
    return None


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    return next((app for app in desktop if app is not None and app.name == "lotrixGUI"), None)


def named(root, role, name):
    """The first showing node under `root` with this role and name."""
    return pyatspi.findDescendant(
        root, lambda node: node.getRole() == role and node.name == name
        and node.getState().contains(pyatspi.STATE_SHOWING))


def press(button):
    action = button.queryAction()
    action.doAction(next(i for i in range(action.nActions) if action.getName(i) == "Press"))


def labelled_by(node):
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            return [relation.getTarget(i).name for i in range(relation.getNTargets())]
    return []


app = wait_for(application)
check("the window is on the accessibility bus", app is not None)
if app is None:
    sys.exit(1)

path = wait_for(lambda: named(app, pyatspi.ROLE_TEXT, "Input File"))
size = wait_for(lambda: named(app, pyatspi.ROLE_TEXT, "Sample"))
check("the path field is named by its label", path is not None)
check("the sample field is named by its label", size is not None)
if path is None or size is None:
    sys.exit(1)
check("each field is labelled by its label",
      labelled_by(path) == ["Input File"] and labelled_by(size) == ["Sample"])
check("the sample field's description is its unit", size.description == "lines")
check("the sample field says 30", size.queryText().getText(0, -1) == "30")

# Browse: the dialog comes up as a dialog, and cancelling it empties the path field.
path.queryEditableText().setTextContents("something")
press(named(app, pyatspi.ROLE_PUSH_BUTTON, "Browse"))
dialog = wait_for(lambda: named(app, pyatspi.ROLE_DIALOG, "Open")
                  or named(app, pyatspi.ROLE_FILE_CHOOSER, "Open"))
check("Browse opens the Open dialog", dialog is not None)
if dialog is not None:
    press(wait_for(lambda: named(dialog, pyatspi.ROLE_PUSH_BUTTON, "Cancel")))
    check("cancelling it empties the path field",
          wait_for(lambda: path.queryText().getText(0, -1) == "", 10))

# Run, with the real sampler.
hits = os.path.join(folder, "hits.txt")
path.queryEditableText().setTextContents(hits)
size.queryEditableText().setTextContents("7")
press(named(app, pyatspi.ROLE_PUSH_BUTTON, "Run"))


def notice():
    node = pyatspi.findDescendant(
        app, lambda n: n.getRole() in (pyatspi.ROLE_ALERT, pyatspi.ROLE_DIALOG)
        and n.name == "information" and n.getState().contains(pyatspi.STATE_SHOWING))
    return node


box = wait_for(notice)
check("Run brings a notice named \"information\"", box is not None)
if box is not None:
    texts = [node.name for node in pyatspi.findAllDescendants(box, lambda n: True)]
    check("its text reads \"Done!\"", "Done!" in texts or box.description == "Done!")
    press(named(box, pyatspi.ROLE_PUSH_BUTTON, "OK"))
    check("its OK button closes it", wait_for(lambda: notice() is None, 10))

sample = os.path.join(folder, "hits_sample7.txt")
check("the sample holds 7 lines",
      wait_for(lambda: os.path.exists(sample) and sum(1 for _ in open(sample)) == 7, 10))

print(f"{passes} passed, {failures} failed")
sys.exit(1 if failures else 0)

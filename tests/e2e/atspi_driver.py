#!/usr/bin/python3
"""Drives the Lotrix window the way a screen reader user does, through the accessibility bus
alone: finds the fields by their names, types through the editable-text interface, presses
buttons through their actions, reads the notice and closes it.

    atspi_driver.py FOLDER BIN_DIR
FOLDER holds hits.txt and is the window's HOME; lotrixGUI runs from BIN_DIR with accessibility
on, and with FOLDER/stand-ins first on its PATH, where an xdg-open records what it was asked to
open in FOLDER/stand-ins/xdg-open.args, its arguments each ended by a NUL.
"""
import os
import re
import subprocess
import sys
import time
import urllib.parse

import pyatspi

folder, bin_folder = sys.argv[1], sys.argv[2]
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
for button, key in [("Browse", "b"), ("Run", "r")]:
    action = named(app, pyatspi.ROLE_PUSH_BUTTON, button).queryAction()
    bindings = [action.getKeyBinding(i) for i in range(action.nActions)]
    check(f"{button} is pressed by Alt+{key.upper()}, as {bindings}",
          any(re.search(f"alt.*\\b{key}$", b, re.IGNORECASE) for b in bindings))

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


def notice(title):
    return pyatspi.findDescendant(
        app, lambda n: n.getRole() in (pyatspi.ROLE_ALERT, pyatspi.ROLE_DIALOG)
        and n.name == title and n.getState().contains(pyatspi.STATE_SHOWING))


def any_notice():
    return notice("information") or notice("Lotrix")


def run(text, lines):
    """Runs on the path field's `text` and returns the notice that ends the run, or None."""
    path.queryEditableText().setTextContents(text)
    size.queryEditableText().setTextContents(str(lines))
    press(named(app, pyatspi.ROLE_PUSH_BUTTON, "Run"))
    return wait_for(any_notice)


def texts(box):
    """The box's texts, without the breaks that fit long lines to the screen (after a space or a
    path's separator)."""
    return [re.sub(r"(?<=[ /])\n", "", node.name) for node in pyatspi.findAllDescendants(
        box, lambda n: n.getRole() == pyatspi.ROLE_LABEL and n.name)]


def dismiss(box, button):
    """Presses `button` in the notice; true once the notice is gone."""
    pressed = named(box, pyatspi.ROLE_PUSH_BUTTON, button)
    if pressed is None:
        return False
    press(pressed)
    return bool(wait_for(lambda: any_notice() is None, 10))


DONE = re.compile(r'The sample is in\n(.*)\n\n'
                  r'Seed (\d+): "lotrix --seed \2" draws the same sample again\.')


def done_sample(box):
    """The sample and seed that a "Done!" notice names, or (None, None)."""
    if box is None or box.name != "information" or "Done!" not in texts(box):
        return None, None
    found = next((m for m in map(DONE.fullmatch, texts(box)) if m), None)
    return (found[1], found[2]) if found else (None, None)


def line_count(file):
    with open(file, "rb") as opened:
        return opened.read().count(b"\n")


def samples():
    return {name for name in os.listdir(folder) if "_sample" in name}


# Run, with the real sampler: the notice names the sample that was written and the seed that
# draws it again, and Open hands the sample to the desktop.
hits = os.path.join(folder, "hits.txt")
before = samples()
box = run(hits, 7)
check("Run brings a notice named \"information\"", box is not None and box.name == "information")
sample, seed = done_sample(box)
check("it says \"Done!\", where the sample is and its seed", sample is not None)
if sample is not None:
    check("the sample it names is the one written, with 7 lines",
          sample == os.path.join(folder, "hits_sample7.txt") and samples() - before
          == {"hits_sample7.txt"} and line_count(sample) == 7)
    again = subprocess.run([os.path.join(bin_folder, "lotrix"), "--seed", seed, "-o", "-", hits,
                            "7"], capture_output=True, timeout=30)
    with open(sample, "rb") as written:
        check("its seed draws the same sample again", again.returncode == 0
              and again.stdout == written.read())
    check("its Open button closes it", dismiss(box, "Open"))
    record = os.path.join(folder, "stand-ins", "xdg-open.args")

    def arguments():
        with open(record) as recorded:
            return recorded.read().split("\0")[:-1]

    opened = wait_for(arguments, 10)
    print(f"Open ran xdg-open {opened}")
    check("Open asks the desktop to open the sample",
          opened in ([sample], ["file://" + urllib.parse.quote(sample)]))

# What a path pasted or typed in haste may carry around it; each still names its file.
for what, name, text in [
        ("a line break after it", "break.txt", "{path}\n"),
        ("blanks around it", "blanks.txt", " \t{path}  "),
        ("double quotes around it", "double.txt", '"{path}"'),
        ("single quotes around it", "single.txt", "'{path}'"),
        ("a file:// URI", "with space.txt", "file://{uri}"),
        ("~/ for the home folder", "home.txt", "~/home.txt")]:
    input_file = os.path.join(folder, name)
    with open(input_file, "w") as made:
        made.writelines(f"{name} {i}\n" for i in range(40))
    text = text.format(path=input_file, uri=urllib.parse.quote(input_file))
    box = run(text, 5)
    check(f"{what}: the field holds the text as given", path.queryText().getText(0, -1) == text)
    sample, _ = done_sample(box)
    expected = os.path.join(folder, os.path.splitext(name)[0] + "_sample5.txt")
    check(f"{what}: \"Done!\" names the sample of {name}, of 5 lines",
          sample == expected and os.path.exists(expected) and line_count(expected) == 5)
    check(f"{what}: OK closes the notice", box is not None and dismiss(box, "OK"))

# A name that is no file after any reading goes to the sampler as typed; its failure shows
# what was typed, the line break included.
box = run(os.path.join(folder, "nothing.txt") + "\n", 5)
check("a name of no file brings the failure notice", box is not None and box.name == "Lotrix")
if box is not None:
    shown = f"$'{os.path.join(folder, 'nothing.txt')}\\n'"
    check(f"it shows the name as typed, {shown}", any(shown in label for label in texts(box)))
    check("OK closes it", dismiss(box, "OK"))

# A file the system makes as it is read has no folder beside it for a sample.
box = run("/proc/cpuinfo", 5)
check("/proc/cpuinfo says what to do instead", box is not None and box.name == "Lotrix" and
      any("Save its lines to a file" in label for label in texts(box)))
if box is not None:
    dismiss(box, "OK")

# Busy while a run is under way: a named pipe keeps the sampler reading until the driver has
# looked. Only the state is asked for: Qt 6.4's bridge forwards no busy state-change event.
window = app[0]


def busy():
    window.clearCache()
    return window.getState().contains(pyatspi.STATE_BUSY)


pipe = os.path.join(folder, "slow.fifo")
os.mkfifo(pipe)
path.queryEditableText().setTextContents(pipe)
press(named(app, pyatspi.ROLE_PUSH_BUTTON, "Run"))
check("the window is busy while the sampler runs", wait_for(busy, 10))
# Opening a pipe's writing end without blocking fails until the sampler has it open for reading.
writer = wait_for(lambda: os.open(pipe, os.O_WRONLY | os.O_NONBLOCK), 10)
if writer is not None:
    os.write(writer, b"".join(b"piped %d\n" % i for i in range(100)))
    os.close(writer)
box = wait_for(any_notice)
# A pipe's sample goes to the sampler's standard output, which the window keeps nowhere: it says
# so rather than "Done!".
check("a run from a pipe says that nothing was saved",
      box is not None and box.name == "Lotrix" and
      any("Nothing was saved" in label for label in texts(box)))
check("the window is no longer busy", not busy())
if box is not None:
    dismiss(box, "OK")

print(f"{passes} passed, {failures} failed")
sys.exit(1 if failures else 0)

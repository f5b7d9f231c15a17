#!/usr/bin/env python3
# The GIMP 3 plug-in and the GEGL operation in the real GIMP 3, inside the
# Debian 13 system (tools/gimp3-system.sh, entered by tests/gimp3/run.sh),
# against the plug-in's own cells computed here, on this side. GIMP reads
# and writes its pictures in the exchange folder, /exchange inside.
#   gimp3_test.py SYSTEM EXCHANGE PLUGIN OPERATION PLUGIN_CELLS ARTIFACTS
# Prints "ok: ..." or "FAILED: ..." for each check and ends with
# "gimp3: N passed, N failed".
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pictures import cells, cropped, difference, painted, read_png, selected, widened, write_png  # noqa: E402

system, exchange, plugin, operation, reference, artifacts = sys.argv[1:7]
here = os.path.dirname(os.path.abspath(__file__))
checkout = os.path.dirname(os.path.dirname(here))
passed = failed = 0


def check(name, problem):
    """A check passes when it finds no problem ('' or None)."""
    global passed, failed
    if problem:
        failed += 1
        print("FAILED: %s: %s" % (name, problem))
    else:
        passed += 1
        print("ok: %s" % name)


def inside(path):
    return "/exchange/" + os.path.relpath(path, exchange)


def in_system(args, env=(), timeout=300):
    """A command inside the system, with only the environment given."""
    command = ["chroot", system, "/usr/bin/env", "-i", "PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LANG=C.UTF-8",
               *env, "timeout", "-k", "5", str(timeout), *args]
    run = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace")
    return run.returncode, run.stdout


def profile(name, install=True, made=True):
    """A home folder of its own; the plug-in and the operation where GIMP 3
    and GEGL look for a user's; GIMP's profile in it as GIMP's first start
    made it in the home "fresh" (a start costs seconds)."""
    home = os.path.join(exchange, name)
    shutil.rmtree(home, ignore_errors=True)
    if made:
        shutil.copytree(os.path.join(exchange, "fresh"), home, symlinks=True)
    else:
        os.makedirs(home)
    if install:
        folder = os.path.join(home, ".config/GIMP/3.0/plug-ins/cellumbra")
        os.makedirs(folder, exist_ok=True)
        shutil.copy(plugin, folder)
        gegl = os.path.join(home, ".local/share/gegl-0.4/plug-ins")
        os.makedirs(gegl, exist_ok=True)
        shutil.copy(operation, gegl)
    return home


def gimp(home, interpreter, scripts, timeout=240):
    """gimp-console-3.0 in batch, each script one -b; its session bus ends with it."""
    args = ["dbus-run-session", "--", "gimp-console-3.0", "-i", "--quit", "--batch-interpreter=" + interpreter]
    for s in scripts:
        args += ["-b", s]
    return in_system(args, ["HOME=" + inside(home)], timeout)


def sf_string(path):
    return '"%s"' % inside(path)


# ------------------------------------------------------------------ batch

def batch_cases(home):
    """Inputs of every kind, as (name, picture written, 8-bit picture whose
    cells are wanted, size, selection)."""
    rgb = painted(173, 91, 3)
    rgba = painted(150, 97, 4, transparent=True)
    deep = painted(77, 59, 4)
    cases = [
        ("rgb", rgb, rgb, 9, None),
        ("rgba with transparent pixels", rgba, rgba, 5, None),
        ("grey", painted(131, 77, 1), None, 7, None),
        ("grey with alpha", painted(90, 61, 2), None, 4, None),
        ("selection", painted(64, 90, 3), None, 5, (7, 12, 46, 68)),
        ("16-bit", widened(deep), deep, 3, None),
        ("largest size", painted(301, 203, 3), None, 100, None),
    ]
    out = []
    for name, written, eight, size, rect in cases:
        eight = eight or written
        path = os.path.join(home, name.replace(" ", "-") + ".png")
        write_png(path, written)
        want = cells(reference, eight, size)
        if rect:
            want = selected(eight, want, *rect)
        if written.depth == 16:
            want = widened(want)
        out.append((name, path, want, size, rect))
    return out


def script_fu_batch(extra):
    home = profile("script-fu")
    cases = batch_cases(home)
    scripts = []
    for name, path, want, size, rect in cases:
        select = "(gimp-image-select-rectangle img CHANNEL-OP-REPLACE %d %d %d %d)" % rect if rect else ""
        scripts.append(
            "(let* ((img (car (gimp-file-load RUN-NONINTERACTIVE %s)))"
            " (d (vector-ref (car (gimp-image-get-selected-drawables img)) 0))) %s"
            " (plug-in-cellumbra #:run-mode RUN-NONINTERACTIVE #:image img #:drawables (vector d) #:size %d)"
            " (file-png-export #:run-mode RUN-NONINTERACTIVE #:image img #:file %s #:save-transparent TRUE)"
            " (gimp-image-delete img))" % (sf_string(path), select, size, sf_string(path + "-out.png")))
    # Refused: each caught, and nothing exported after it.
    for size in (0, 101):
        scripts.append(
            "(let* ((img (car (gimp-file-load RUN-NONINTERACTIVE %s)))"
            " (d (vector-ref (car (gimp-image-get-selected-drawables img)) 0)))"
            " (catch (gimp-message \"refused %d\")"
            " (plug-in-cellumbra #:run-mode RUN-NONINTERACTIVE #:image img #:drawables (vector d) #:size %d)"
            " (file-png-export #:run-mode RUN-NONINTERACTIVE #:image img #:file %s))"
            " (gimp-image-delete img))" % (sf_string(cases[0][1]), size, size,
                                           sf_string(os.path.join(home, "refused-%d.png" % size))))
    _, said = gimp(home, "plug-in-script-fu-eval", extra + scripts)
    for name, path, want, size, rect in cases:
        problem = difference(read_png(path + "-out.png"), want)
        check("Script-Fu, %s, size %d: the plug-in's bytes" % (name, size), problem and problem + "\n" + said)
    refusals = []
    for size in (0, 101):
        if os.path.exists(os.path.join(home, "refused-%d.png" % size)):
            refusals.append("size %d was exported" % size)
        if "Cellumbra: the size is %d; it must lie in 1..100" % size not in said:
            refusals.append("size %d was not refused with its message" % size)
    check("Script-Fu: sizes 0 and 101 refused with a message", "; ".join(refusals) + ("\n" + said if refusals else ""))


PYTHON_BATCH = r'''
from gi.repository import Gimp, Gio
pdb = Gimp.get_pdb()
def cellumbra(image, drawable, size):
    procedure = pdb.lookup_procedure("plug-in-cellumbra")
    config = procedure.create_config()
    config.set_property("run-mode", Gimp.RunMode.NONINTERACTIVE)
    config.set_property("image", image)
    config.set_core_object_array("drawables", [drawable])
    config.set_property("size", size)
    result = procedure.run(config)
    return result.index(0), (result.index(1) if result.length() > 1 else "")
def export(image, path):
    procedure = pdb.lookup_procedure("file-png-export")
    config = procedure.create_config()
    config.set_property("run-mode", Gimp.RunMode.NONINTERACTIVE)
    config.set_property("image", image)
    config.set_property("file", Gio.File.new_for_path(path))
    config.set_property("save-transparent", True)
    procedure.run(config)
for path, size, rect in CASES:
    image = Gimp.file_load(Gimp.RunMode.NONINTERACTIVE, Gio.File.new_for_path(path))
    drawable = image.get_selected_drawables()[0]
    if rect:
        image.select_rectangle(Gimp.ChannelOps.REPLACE, *rect)
    status, message = cellumbra(image, drawable, size)
    if status == Gimp.PDBStatusType.SUCCESS:
        export(image, path + "-out-%d.png" % size)
    else:
        print("REFUSED %d: %s %s" % (size, status.value_nick, pdb.get_last_error()))
    image.delete()
'''


def python_batch(extra):
    home = profile("python")
    cases = [c for c in batch_cases(home) if c[0] in ("rgb", "rgba with transparent pixels", "grey", "selection", "16-bit")]
    listed = [(inside(path), size, rect) for _, path, _, size, rect in cases]
    listed += [(inside(cases[0][1]), size, None) for size in (0, 101)]
    script = os.path.join(home, "batch.py")
    with open(script, "w") as f:
        f.write("CASES = %r\n%s\n%s" % (listed, PYTHON_BATCH, extra))
    _, said = gimp(home, "python-fu-eval", ['exec(open("%s").read())' % inside(script)])
    for name, path, want, size, rect in cases:
        problem = difference(read_png(path + "-out-%d.png" % size), want)
        check("Python, %s, size %d: the plug-in's bytes" % (name, size), problem and problem + "\n" + said)
    refusals = []
    for size in (0, 101):
        if os.path.exists(cases[0][1] + "-out-%d.png" % size):
            refusals.append("size %d was applied" % size)
        if "Cellumbra: the size is %d; it must lie in 1..100" % size not in said:
            refusals.append("size %d was not refused with its message" % size)
    check("Python: sizes 0 and 101 refused with a message", "; ".join(refusals) + ("\n" + said if refusals else ""))
    # Filters > Artistic > Cellumbra..., for RGB and grey layers, with or
    # without alpha, and only while one drawable is selected (mask 1), as
    # GIMP keeps it in the profile's pluginrc.
    try:
        rc = open(os.path.join(home, ".config/GIMP/3.0/pluginrc"), errors="replace").read()
    except OSError:
        rc = ""
    found = re.search(r'\(proc-def "plug-in-cellumbra" .*?"_Cellumbra\.\.\."\s+\d+\s+'
                      r'\(menu-path "<Image>/Filters/Artistic"\)\s+\(icon [^)]*\)\s+"RGB\*, GRAY\*"\s+(\d+)', rc, re.S)
    check("registered in Filters > Artistic as Cellumbra... for RGB* and GRAY*, sensitive to one drawable",
          "" if found and found.group(1) == "1" else "pluginrc says otherwise:\n" + rc[rc.find("plug-in-cellumbra") - 80:][:1500])
    return said


# ---------------------------------------------------------- layer effects

EFFECT = r'''
from gi.repository import Gimp, Gio
def export(image, path):
    procedure = Gimp.get_pdb().lookup_procedure("file-png-export")
    config = procedure.create_config()
    config.set_property("run-mode", Gimp.RunMode.NONINTERACTIVE)
    config.set_property("image", image)
    config.set_property("file", Gio.File.new_for_path(path))
    procedure.run(config)
for path, size in XCFS:
    image = Gimp.file_load(Gimp.RunMode.NONINTERACTIVE, Gio.File.new_for_path(path))
    filters = image.get_layers()[0].get_filters()
    print("effect:", path, [(f.get_operation_name(), f.get_config().get_property("size")) for f in filters])
    export(image, path + ".png")
    if filters:
        filters[0].get_config().set_property("size", size)
        filters[0].update()
        export(image, path + "-%d.png" % size)
    image.delete()
'''


def layer_effects():
    """The operation as a non-destructive layer effect: saved in an XCF,
    reopened, editable, and exported with its cells; and an XCF saved with
    it when it was made (tests/gimp3/effect-size-12.xcf), which must keep
    working whatever the operation becomes: its name, its property and its
    version key are what such files hold. Its Script-Fu goes first in the
    Script-Fu batch, its Python after the Python batch; then `verify`."""
    home = profile("effect")
    picture = painted(64, 48, 3)
    source = os.path.join(home, "effect.png")
    write_png(source, picture)
    saved = os.path.join(home, "saved.xcf")
    save = ("(let* ((img (car (gimp-file-load RUN-NONINTERACTIVE %s)))"
            " (d (vector-ref (car (gimp-image-get-selected-drawables img)) 0)))"
            " (gimp-drawable-append-new-filter d \"cellumbra:cells\" 0 LAYER-MODE-REPLACE 1.0 \"size\" 12)"
            " (gimp-xcf-save RUN-NONINTERACTIVE img %s) (gimp-image-delete img))" % (sf_string(source), sf_string(saved)))
    kept = os.path.join(home, "kept.xcf")
    shutil.copy(os.path.join(here, "effect-size-12.xcf"), kept)
    reopen = "XCFS = %r\n%s" % ([(inside(saved), 30), (inside(kept), 30)], EFFECT)

    def verify(said):
        for name, xcf in (("saved now", saved), ("saved when the operation was made", kept)):
            problems = []
            if "effect: %s [('cellumbra:cells', 12)]" % inside(xcf) not in said:
                problems.append("the XCF does not reopen with the effect at size 12")
            for size in (12, 30):
                got = read_png(xcf + (".png" if size == 12 else "-%d.png" % size))
                d = difference(got, cells(reference, picture, size))
                if d:
                    problems.append("size %d: %s" % (size, d))
            check("a layer effect in an XCF %s reopens editable and exports its cells at 12, then at 30" % name,
                  "; ".join(problems) + ("\n" + said if problems else ""))
    return save, reopen, verify


# ------------------------------------------------------------ the window

def wait_for(done, seconds):
    """Polls `done` every 100 ms for at most `seconds`; its last answer."""
    end = time.monotonic() + seconds
    while True:
        got = done()
        if got or time.monotonic() > end:
            return got
        time.sleep(0.1)


def shows(whole, part):
    """Whether RGB `part` appears in `whole` (RGB or RGBA) pixel for pixel."""
    if whole is None or whole.planes < 3 or part.planes != 3:
        return False
    n = whole.planes
    first = bytes(part.pixels[0:3])
    rows = [bytes(part.pixels[r * part.width * 3:(r + 1) * part.width * 3]) for r in range(part.height)]

    def row_at(x, y):
        k = (y * whole.width + x) * n
        chunk = whole.pixels[k:k + part.width * n]
        return bytes(chunk) if n == 3 else bytes(b for i, b in enumerate(chunk) if i % 4 != 3)

    for y in range(whole.height - part.height + 1):
        for x in range(whole.width - part.width + 1):
            k = (y * whole.width + x) * n
            if bytes(whole.pixels[k:k + 3]) == first and all(row_at(x, y + r) == rows[r] for r in range(part.height)):
                return True
    return False


class Desktop:
    """A private X server and GIMP 3 in its window, inside the system."""

    def __init__(self, home):
        self.home = home
        self.processes = []
        self.display = ""

    def start(self, picture):
        xvfb = subprocess.Popen(["chroot", system, "/usr/bin/env", "-i", "PATH=/usr/bin:/bin", "Xvfb", "-displayfd", "1",
                                 "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.processes.append(xvfb)
        self.display = ":" + xvfb.stdout.readline().strip()
        log = open(os.path.join(self.home, "gimp.log"), "w")
        gimp = subprocess.Popen(["chroot", system, "/usr/bin/env", "-i", "PATH=/usr/bin:/bin", "LANG=C.UTF-8",
                                 "HOME=" + inside(self.home), "DISPLAY=" + self.display, "dbus-run-session", "--",
                                 "gimp-3.0", inside(picture)], stdout=log, stderr=subprocess.STDOUT)
        self.processes.append(gimp)
        self.gimp = gimp

    def stop(self):
        for p in reversed(self.processes):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
        self.processes = []

    def xdotool(self, *args):
        return in_system(["xdotool", *args], ["DISPLAY=" + self.display], 60)[1].strip()

    def window(self, pattern):
        found = self.xdotool("search", "--onlyvisible", "--name", pattern)
        return found.split("\n")[0] if found[:1].isdigit() else ""

    def wait_window(self, pattern, seconds=60):
        return wait_for(lambda: self.window(pattern), seconds)

    def wait_gone(self, pattern, seconds=30):
        return wait_for(lambda: not self.window(pattern), seconds)

    def name(self, id):
        return self.xdotool("getwindowname", id)

    def keys(self, id, *keys):
        self.xdotool("windowactivate", "--sync", id)
        self.xdotool("windowfocus", "--sync", id)
        self.xdotool("key", "--clearmodifiers", *keys)

    def type(self, id, text):
        self.xdotool("windowfocus", "--sync", id)
        self.xdotool("type", "--delay", "30", text)

    def capture(self, id, path, shown, seconds=20):
        """Pictures of the window until `shown` holds for one; the last is kept at `path`."""
        def take():
            in_system(["import", "-window", id, "PNG24:" + inside(path)], ["DISPLAY=" + self.display], 60)
            return shown(read_png(path))
        return wait_for(take, seconds)


def changed(d, id):
    return d.name(id).startswith("*")


def export_as(d, image, path):
    d.keys(image, "shift+ctrl+e")
    chooser = d.wait_window("^Export Image$")
    if not chooser:
        return "no Export Image dialog"
    d.keys(chooser, "ctrl+a")
    d.type(chooser, inside(path))
    d.keys(chooser, "Return")
    options = d.wait_window("^Export Image as PNG$")
    if not options:
        return "no PNG options"
    d.keys(options, "Return")
    if not d.wait_gone("^Export Image as PNG$") or not wait_for(lambda: read_png(path), 30):
        return "nothing exported to " + path
    return ""


def window():
    """Filters > Artistic > Cellumbra... found as a user finds it, the size
    typed in the dialog, whose preview must show the cells; OK; Export As;
    Undo back to the picture unchanged and Filters > Repeat; an XCF with the
    operation as a layer effect shows its cells; then, after GIMP quits, the
    size typed is the last value of a run in a new session."""
    home = profile("window")
    picture = painted(173, 91, 3)
    source = os.path.join(home, "in.png")
    write_png(source, picture)
    want = cells(reference, picture, 7)
    d = Desktop(home)
    problems = []

    def fail(problem):
        """Says what failed, with the screen kept as a picture."""
        shot = os.path.join(home, "failed.png")
        if d.display and not os.path.exists(shot):
            in_system(["import", "-window", "root", "PNG24:" + inside(shot)], ["DISPLAY=" + d.display], 60)
            if os.path.exists(shot):
                shutil.copy(shot, os.path.join(artifacts, "gimp3-failed.png"))
                problem += " (the screen: %s)" % os.path.join(artifacts, "gimp3-failed.png")
        problems.append(problem)
        return problems

    try:
        d.start(source)
        image = d.wait_window(r"^\[in\] .* GIMP$", 120)
        if not image:
            return fail("GIMP showed no window:\n" + open(os.path.join(home, "gimp.log")).read())
        # Welcome dialogs of a first session close.
        welcome = d.wait_window("^Welcome to GIMP", 3)
        if welcome:
            d.keys(welcome, "Escape")
            d.wait_gone("^Welcome to GIMP")
        # "/" searches the actions; the first Return may come before the
        # list holds the entry, so it is pressed again until the dialog shows.
        d.keys(image, "slash")
        search = d.wait_window("^Search Actions$")
        if not search:
            return fail("no action search")
        d.type(search, "Cellumbra")
        dialog = ""
        for _ in range(10):
            if d.window("^Search Actions$"):
                d.keys(search, "Return")
            dialog = d.wait_window("^Cellumbra$", 3)
            if dialog:
                break
        if not dialog:
            return fail("the dialog did not open")
        d.keys(dialog, "alt+z", "ctrl+a")
        d.type(dialog, "7")
        d.keys(dialog, "Tab")
        shot = os.path.join(home, "dialog.png")
        if not d.capture(dialog, shot, lambda seen: shows(seen, want)):
            fail("the preview does not show the cells at size 7")
        if os.path.exists(shot):
            shutil.copy(shot, os.path.join(artifacts, "gimp3-dialog.png"))
        d.keys(dialog, "alt+o")
        if not d.wait_gone("^Cellumbra$") or not wait_for(lambda: changed(d, image), 30):
            return fail("OK did not change the picture: " + d.name(image))
        problem = export_as(d, image, os.path.join(home, "gui.png"))
        problem = problem or difference(read_png(os.path.join(home, "gui.png")), want)
        if problem:
            fail("after OK: " + problem)
        d.keys(image, "ctrl+z")
        if not wait_for(lambda: not changed(d, image), 30):
            fail("Undo did not take it back: " + d.name(image))
        d.keys(image, "ctrl+f")
        if not wait_for(lambda: changed(d, image), 30):
            return fail("Repeat did not run: " + d.name(image))
        problem = export_as(d, image, os.path.join(home, "repeated.png"))
        problem = problem or difference(read_png(os.path.join(home, "repeated.png")), want)
        if problem:
            fail("after Repeat: " + problem)
        # The layer effect of an XCF, shown on the canvas at 1:1 and listed
        # with its layer; the screen is kept as a picture. The layer's
        # boundary is drawn over its edge pixels.
        effect = os.path.join(home, "effect.xcf")
        shutil.copy(os.path.join(here, "effect-size-12.xcf"), effect)
        d.keys(image, "ctrl+o")
        chooser = d.wait_window("^Open Image$")
        if not chooser:
            return fail("no Open Image dialog")
        d.keys(chooser, "ctrl+l")
        d.type(chooser, inside(effect))
        d.keys(chooser, "Return")
        if not d.wait_window(r"^effect\.xcf-", 60):
            return fail("the XCF did not open: " + d.name(image))
        screen = os.path.join(home, "effect.png")
        effect_cells = cropped(cells(reference, painted(64, 48, 3), 12), 2, 2, 60, 44)
        if not d.capture(image, screen, lambda seen: shows(seen, effect_cells)):
            fail("the canvas does not show the layer effect's cells")
        if os.path.exists(screen):
            shutil.copy(screen, os.path.join(artifacts, "gimp3-layer-effect.png"))
        d.keys(image, "ctrl+q")
        quit = d.wait_window("^Quit GIMP$")
        if quit:
            d.keys(quit, "alt+d")
        if not wait_for(lambda: d.gimp.poll() is not None, 60):
            return fail("GIMP did not quit")
    finally:
        d.stop()
    # The next session's run with the last values has the size typed.
    out = os.path.join(home, "next-session.png")
    _, said = gimp(home, "plug-in-script-fu-eval", [
        "(let* ((img (car (gimp-file-load RUN-NONINTERACTIVE %s)))"
        " (d (vector-ref (car (gimp-image-get-selected-drawables img)) 0)))"
        " (plug-in-cellumbra #:run-mode RUN-WITH-LAST-VALS #:image img #:drawables (vector d) #:size 1)"
        " (file-png-export #:run-mode RUN-NONINTERACTIVE #:image img #:file %s))" % (sf_string(source), sf_string(out))])
    problem = difference(read_png(out), want)
    if problem:
        fail("in the next session: " + problem + "\n" + said)
    return problems


# ------------------------------------------------------------ installing

FOUND = 'from gi.repository import Gimp, Gegl\nGegl.init(None)\nprint("found:", Gimp.get_pdb().procedure_exists("plug-in-cellumbra"), Gegl.has_operation("cellumbra:cells"))'


def package():
    """The archive's folder as install.sh finds it."""
    folder = os.path.join(exchange, "package")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "gimp3"))
    shutil.copy(operation, folder)
    shutil.copy(plugin, os.path.join(folder, "gimp3"))
    shutil.copy(os.path.join(checkout, "tools/install-linux.sh"), os.path.join(folder, "install.sh"))
    return folder


def install(home, folder, *args):
    return in_system(["bash", inside(os.path.join(folder, "install.sh")), *args], ["HOME=" + inside(home)])


def entries(home, version="3.0"):
    folder = os.path.join(home, ".config/GIMP", version)
    return sorted(os.listdir(folder)) if os.path.isdir(folder) else None


def snapshot(home):
    """Every file and folder below `home` with its bytes."""
    out = {}
    for top, folders, files in os.walk(home):
        for name in folders:
            out[os.path.relpath(os.path.join(top, name), home) + "/"] = None
        for name in files:
            path = os.path.join(top, name)
            out[os.path.relpath(path, home)] = open(path, "rb").read() if not os.path.islink(path) else os.readlink(path)
    return out


def changes(before, after):
    return sorted(k for k in set(before) | set(after) if before.get(k, 0) != after.get(k, 0))


def installing(fresh):
    folder = package()
    first = profile("first-start", install=False, made=False)
    _, said = install(first, folder)
    _, found = gimp(first, "python-fu-eval", [FOUND])
    problems = []
    if entries(first) != entries(fresh):
        problems.append("the profile holds %s, a fresh one %s" % (entries(first), entries(fresh)))
    if entries(first, "2.10") is not None:
        problems.append("a GIMP 2.10 profile was made where no GIMP 2.10 is")
    if "found: True True" not in found:
        problems.append("GIMP 3 does not find the plug-in and the operation")
    check("first start after an install: GIMP 3's profile as complete as without it, Cellumbra found",
          "; ".join(problems) + ("\n" + said + found if problems else ""))

    # An install into a profile that exists adds its files and changes
    # nothing else; --uninstall takes back exactly those.
    existing = profile("existing", install=False)
    before = snapshot(existing)
    _, said = install(existing, folder)
    added = changes(before, snapshot(existing))
    want = [".config/GIMP/3.0/plug-ins/cellumbra/", ".config/GIMP/3.0/plug-ins/cellumbra/cellumbra",
            ".local/", ".local/share/", ".local/share/gegl-0.4/", ".local/share/gegl-0.4/plug-ins/",
            ".local/share/gegl-0.4/plug-ins/cellumbra-cells.so"]
    want = [w for w in want if w in added or w not in before]
    _, undone = install(existing, folder, "--uninstall")
    left = changes(before, snapshot(existing))
    check("an install into an existing profile adds only its files; --uninstall leaves nothing behind",
          ("added %s" % added if added != sorted(want) else "") + ("; left %s" % left if left else "") +
          ("\n" + said + undone if added != sorted(want) or left else ""))

    # A Flathub GIMP's folders, when it has made its profile; none of its
    # profile is made when it has not.
    flathub = profile("flathub", install=False)
    app = os.path.join(flathub, ".var/app/org.gimp.GIMP")
    os.makedirs(os.path.join(app, "config/GIMP/3.0"))
    _, said = install(flathub, folder)
    unmade = profile("flathub-unstarted", install=False)
    os.makedirs(os.path.join(unmade, ".var/app/org.gimp.GIMP"))
    _, said2 = install(unmade, folder)
    problems = [p for p in ("config/GIMP/3.0/plug-ins/cellumbra/cellumbra", "data/gegl-0.4/plug-ins/cellumbra-cells.so")
                if not os.path.isfile(os.path.join(app, p))]
    if os.path.exists(os.path.join(unmade, ".var/app/org.gimp.GIMP/config")):
        problems.append("a Flathub profile was made before that GIMP started")
    if "GIMP from Flathub has not made its profile yet" not in said2:
        problems.append("no word about the Flathub GIMP that has not started")
    install(flathub, folder, "--uninstall")
    if [p for p in snapshot(app) if "cellumbra" in p]:
        problems.append("--uninstall left %s" % [p for p in snapshot(app) if "cellumbra" in p])
    check("a Flathub GIMP's folders are used once it has made its profile, and emptied by --uninstall",
          "; ".join(problems) + ("\n" + said + said2 if problems else ""))


def needs_only_what_it_uses():
    """ldd -u lists the libraries a program names as needed and never uses."""
    copy = os.path.join(exchange, "needs", "cellumbra")
    os.makedirs(os.path.dirname(copy), exist_ok=True)
    shutil.copy(plugin, copy)
    _, unused = in_system(["ldd", "-u", "-r", inside(copy)])
    unused = "\n".join(line for line in unused.splitlines() if line.strip() and not line.startswith("Unused direct"))
    check("the plug-in lists as needed only the libraries it uses", unused and "needs but does not use:\n" + unused)


def main():
    # GIMP 3's first start in a fresh home: the profile every other home copies.
    fresh = profile("fresh", install=False, made=False)
    gimp(fresh, "python-fu-eval", [FOUND])
    save, reopen, verify = layer_effects()
    script_fu_batch([save])
    verify(python_batch(reopen))
    installing(fresh)
    needs_only_what_it_uses()
    problems = window()
    check("in its window: found with /, the dialog's preview, OK, Export As, Undo, Repeat, a layer effect shown, "
          "last values next session",
          "; ".join(problems))
    print("gimp3: %d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

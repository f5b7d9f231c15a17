#!/usr/bin/env python3
# The GIMP 3 plug-in and the GEGL operation in the real GIMP 3, inside the
# Debian 13 system (tools/gimp3-system.sh, entered by tests/gimp3/run.sh),
# against the plug-in's own cells computed here, on this side. GIMP reads
# and writes its pictures in the exchange folder, /exchange inside.
#   gimp3_test.py SYSTEM EXCHANGE PLUGIN OPERATION PLUGIN_CELLS ARTIFACTS
# Prints "ok: ..." or "FAILED: ..." for each check and ends with
# "gimp3: N passed, N failed".
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pictures import cells, difference, painted, read_png, selected, widened, write_png  # noqa: E402

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


def profile(name, install=True):
    """A home folder of its own; the plug-in and the operation where GIMP 3
    and GEGL look for a user's."""
    home = os.path.join(exchange, name)
    shutil.rmtree(home, ignore_errors=True)
    os.makedirs(home)
    if install:
        folder = os.path.join(home, ".config/GIMP/3.0/plug-ins/cellumbra")
        os.makedirs(folder)
        shutil.copy(plugin, folder)
        gegl = os.path.join(home, ".local/share/gegl-0.4/plug-ins")
        os.makedirs(gegl)
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


def script_fu_batch():
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
    _, said = gimp(home, "plug-in-script-fu-eval", scripts)
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


def python_batch():
    home = profile("python")
    cases = [c for c in batch_cases(home) if c[0] in ("rgb", "rgba with transparent pixels", "grey", "selection", "16-bit")]
    listed = [(inside(path), size, rect) for _, path, _, size, rect in cases]
    listed += [(inside(cases[0][1]), size, None) for size in (0, 101)]
    script = os.path.join(home, "batch.py")
    with open(script, "w") as f:
        f.write("CASES = %r\n%s" % (listed, PYTHON_BATCH))
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


def main():
    script_fu_batch()
    python_batch()
    print("gimp3: %d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

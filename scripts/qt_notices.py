#!/usr/bin/env python3
"""Notices of the third-party code in the Qt binaries that the demo ships.

    scripts/qt_notices.py QT_BUILD QT_SOURCE DEST BINARY...

QT_BUILD is Qt's build folder (scripts/windows.sh: build-win32/deps/qtbase),
QT_SOURCE its unpacked tarball, BINARY the file names of the Qt DLLs and
plugins in the package (Qt5Core.dll, qwindows.dll, ...). What a binary holds is
read from the build itself: its Makefile.Release (the one whose TARGET it is)
names its objects and the static libraries linked into it (followed in turn);
every object's .d file (the build compiles with -MD) names each source and
header that went into it, as the preprocessor saw them; the resource compiler's
rules name the files embedded as resources. A part named by a
qt_attribution.json of the tarball counts when one of those files is its own:
one that its "Files" name (or, for a data file, one made from it: the same name
with another extension), or, without "Files", one under its "Path" or its folder.

Writes into DEST:
  3rdparty/README.txt   one notice per part: name, version, licence,
                        copyright, where it comes from, which binaries hold it
                        and the files that show it
  3rdparty/<Id>/        the part's licence files named by the json
  CONFIGURE.txt         the options Qt was configured with (QT_BUILD/config.opt),
                        the build folder's path replaced by <build>
Stops with status 1 and one line on standard error when a binary's Makefile,
an object's dependency list or a named licence file is missing.
"""
import glob
import json
import os
import re
import shutil
import sys


def fail(text):
    sys.stderr.write("qt_notices.py: %s\n" % text)
    sys.exit(1)


def logical_lines(path):
    """The lines of a Makefile or .d file, continuation lines joined."""
    with open(path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    return text.replace("\\\n", " ").splitlines()


class Makefile:
    def __init__(self, path):
        self.path = path
        self.folder = os.path.dirname(path)
        self.variables = {}
        self.rules = {}
        for line in logical_lines(path):
            m = re.match(r"^([A-Z_]+)\s*=\s*(.*)$", line)
            if m:
                self.variables[m.group(1)] = m.group(2).split("#")[0].split()
                continue
            m = re.match(r"^([^\s:#=][^:=]*?):(?!=)\s*(.*)$", line)
            if m and not line.startswith("\t"):
                self.rules.setdefault(m.group(1).strip(), []).extend(m.group(2).split())

    def absolute(self, path):
        return os.path.normpath(os.path.join(self.folder, path))

    def target(self):
        values = self.variables.get("TARGET", [])
        return values[0] if values else None


def object_inputs(makefile, obj):
    """The files that went into one object, from its .d file."""
    depfile = os.path.splitext(makefile.absolute(obj))[0] + ".d"
    if not os.path.exists(depfile):
        # Only the resource scripts' objects (windres) leave none.
        sources = makefile.rules.get(obj, [])
        if sources and sources[0].endswith(".rc"):
            return [makefile.absolute(p) for p in sources]
        fail("no dependency list %s (is Qt built with -MD?)" % depfile)
    inputs = []
    for line in logical_lines(depfile):
        if ":" in line:
            inputs += line.split(":", 1)[1].split()
    return [makefile.absolute(p) for p in inputs]


def binary_inputs(name, by_target, seen):
    """Every file that went into the binary TARGET `name`, with its static libraries."""
    makefile = by_target.get(name)
    if makefile is None:
        fail("no Makefile.Release of the Qt build makes %s" % name)
    if name in seen:
        return set()
    seen.add(name)
    # The generated resource sources, and the files the resource compiler embedded in each.
    resources = {makefile.absolute(t): [makefile.absolute(d) for d in deps]
                 for t, deps in makefile.rules.items() if os.path.basename(t).startswith("qrc_")}
    inputs = set()
    for obj in makefile.variables.get("OBJECTS", []):
        for path in object_inputs(makefile, obj):
            inputs.add(path)
            inputs.update(resources.get(path, []))
    for token in makefile.variables.get("LIBS", []):
        if token.startswith("-l"):
            lib = "lib%s.a" % token[2:]
        elif token.endswith(".a"):
            lib = os.path.basename(token)
        else:
            continue
        if lib in by_target:
            inputs |= binary_inputs(lib, by_target, seen)
    return inputs


def attributions(source):
    for path in sorted(glob.glob(os.path.join(source, "**", "qt_attribution.json"), recursive=True)):
        with open(path, encoding="utf-8") as f:
            data = json.loads(f.read(), strict=False)
        for entry in data if isinstance(data, list) else [data]:
            yield os.path.dirname(path), entry


# Sources and headers: compiled as they are.
CODE = {".c", ".cc", ".cpp", ".cxx", ".h", ".hpp", ".mm", ".S"}


def evidence(folder, entry, inputs):
    """The compiled files that belong to the part, or none."""
    files = entry.get("Files")
    if files:
        names = [n for n in re.split(r"[\s,]+", files) if n]
        found = []
        for name in names:
            path = os.path.normpath(os.path.join(folder, name))
            stem, extension = os.path.splitext(path)
            if extension in CODE:
                found += [path] if path in inputs else []
            else:  # data, which the build may convert before it embeds it
                found += sorted(p for p in inputs if os.path.splitext(p)[0] == stem)
        return found
    root = os.path.normpath(os.path.join(folder, entry.get("Path", "")))
    return sorted(p for p in inputs if p == root or p.startswith(root + os.sep))


def main(argv):
    if len(argv) < 5:
        fail("usage: qt_notices.py QT_BUILD QT_SOURCE DEST BINARY...")
    build, source, dest = (os.path.abspath(a) for a in argv[1:4])
    binaries = argv[4:]
    by_target = {}
    for path in glob.glob(os.path.join(build, "src", "**", "Makefile*.Release"), recursive=True):
        makefile = Makefile(path)
        if makefile.target():
            by_target.setdefault(makefile.target(), makefile)

    held = {}  # input file -> binaries
    for binary in binaries:
        for path in binary_inputs(binary, by_target, set()):
            if path.startswith(source + os.sep):
                held.setdefault(path, set()).add(binary)

    out = os.path.join(dest, "3rdparty")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    notices = []
    for folder, entry in attributions(source):
        found = evidence(folder, entry, held)
        if not found:
            continue
        ident = entry.get("Id") or os.path.basename(folder)
        where = os.path.relpath(folder, source)
        copied = []
        names = entry.get("LicenseFiles") or ([entry["LicenseFile"]] if entry.get("LicenseFile") else [])
        for name in names:
            src = os.path.normpath(os.path.join(folder, name))
            if not os.path.isfile(src):
                fail("%s names the licence file %s, which is not in the tarball" % (ident, name))
            base = os.path.basename(src)
            target = base if base.lower().endswith(".txt") else base + ".txt"
            os.makedirs(os.path.join(out, ident), exist_ok=True)
            shutil.copyfile(src, os.path.join(out, ident, target))
            copied.append("%s/%s" % (ident, target))
        in_binaries = sorted(set().union(*(held[p] for p in found)))
        shown = [os.path.relpath(p, source) for p in found[:3]]
        lines = [
            "%s (%s)" % (entry.get("Name", ident), ident),
            "  Version:   %s" % entry.get("Version", "-"),
            "  Licence:   %s%s" % (entry.get("License", "-"),
                                   " (%s)" % entry["LicenseId"] if entry.get("LicenseId") else ""),
            "  Texts:     %s" % (", ".join(copied) if copied else "none named; the licence is as above"),
            "  Copyright: " + "\n             ".join(entry.get("Copyright", "-").strip().splitlines()),
            "  From:      %s" % (entry.get("DownloadLocation") or entry.get("Homepage") or "-"),
            "  Source:    %s/ in the Qt source tarball (see ../SOURCE.txt)" % where,
            "  Used:      %s" % " ".join(entry.get("QtUsage", "").split()),
            "  Held by:   %s" % ", ".join(in_binaries),
            "  Compiled:  %s%s" % (", ".join(shown), ", ..." if len(found) > 3 else ""),
        ]
        notices.append((ident, "\n".join(lines)))
    if not notices:
        fail("no third-party part found in %s" % ", ".join(binaries))

    header = [
        "Third-party code in this package's Qt binaries (%s)" % ", ".join(binaries),
        "",
        "Each part below is compiled into the binaries named after \"Held by\"; its",
        "licence texts are in the folder named after \"Texts\". The list is made from",
        "Qt's own build: the files each binary was compiled from, matched against",
        "the qt_attribution.json files of the Qt source tarball.",
        "",
    ]
    body = "\n\n".join(text for _, text in sorted(notices))
    with open(os.path.join(out, "README.txt"), "w", encoding="utf-8", newline="\r\n") as f:
        f.write("\n".join(header) + "\n" + body + "\n")

    opt = os.path.join(build, "config.opt")
    if not os.path.isfile(opt):
        fail("no %s" % opt)
    with open(opt, encoding="utf-8") as f:
        options = [line.strip() for line in f if line.strip()]
    parent = os.path.dirname(os.path.dirname(build))
    options = [o.replace(parent + "/", "<build>/") for o in options]
    with open(os.path.join(dest, "CONFIGURE.txt"), "w", encoding="utf-8", newline="\r\n") as f:
        f.write("Qt was configured (from an empty build folder <build>/deps/qtbase) with:\n"
                "  configure " + " ".join("'%s'" % o if " " in o else o for o in options) + "\n")
    for ident, _ in sorted(notices):
        print(ident)


if __name__ == "__main__":
    main(sys.argv)

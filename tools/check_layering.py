#!/usr/bin/env python3
"""Checks that the #include "..." lines of every target agree with its links.

Usage: check_layering.py TARGETS_FILE [--report]

TARGETS_FILE is written by CMake at configure time (cmake/layering.cmake): each
target of the project with its sources and links, as CMake made them of the
CMake files. A header belongs to the target whose sources list it; a header
that no target lists (the test helpers in testing/, bench/bench.h) is read as
part of each file that includes it.

A file of target T may include the headers of T and of the targets T links
directly. A test program NAME_unittests is part of component NAME: it may also
use what NAME links directly. The check fails on
  undeclared  an include of a component that the target does not link;
  upward      an include of a component that links the including target,
              directly or through others: it runs up the layers;
  public      a PUBLIC link of a library that no header of the library
              needs, or a PRIVATE link that a header of it needs;
  unused      a link of a library to a component of ours whose headers the
              library never includes;
  orphan      a source or header under base/, common/ or update/ that no
              target lists: a file that matches no target's pattern is
              left out of the build without a word otherwise.
Links to targets without headers (build_options) and to system libraries are
not components and are not checked. Programs (tests, tools, benchmarks) are
not held to the last two: they may link a component only for its symbols,
such as the logging that StringPiece's inline checks call, or the handle
verifier that update.exe exports. The includes in DELIBERATE run against the
layers on purpose and are not reported. --report prints every finding but
exits 0, for counting.
"""

import os
import re
import sys

INCLUDE = re.compile(r'^[ \t]*#[ \t]*include[ \t]+"([^"]+)"', re.MULTILINE)
CODE = (".cc", ".h", ".c")
LINK_ONLY = re.compile(r"^\$<LINK_ONLY:(.+)>$")
# The trees whose every source and header some target must list.
OWNED_TREES = ("base", "common", "update")

# (including file, included file): why the include may run up the layers.
DELIBERATE = {
    ("base/strings/string_piece.h", "base/logging.h"):
        "StringPiece's bounds checks are inline CHECKs that expand in the caller, "
        "which links base_logging; the strings' own .cc files call no checked member",
}


def split_list(text):
    return [item for item in text.split(";") if item]


def read_targets(path):
    targets = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line:
                continue
            name, kind, folder, sources, links, interface = line.split("|")
            files = [os.path.normpath(os.path.join(folder, s)) for s in split_list(sources)]
            if kind == "INTERFACE_LIBRARY":
                direct = split_list(interface)
                public = set(direct)
            else:
                direct = split_list(links)
                public = {i for i in split_list(interface) if not LINK_ONLY.match(i)}
            targets[name] = {
                "kind": kind,
                "files": [f for f in files if f.endswith(CODE)],
                "links": direct,
                "public": public,
            }
    return targets


def main(argv):
    if len(argv) < 2:
        print(__doc__)
        return 2
    report_only = "--report" in argv[2:]
    targets = read_targets(argv[1])
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

    owner = {}
    for name, t in targets.items():
        for f in t["files"]:
            owner.setdefault(f, name)
    # Components: targets that own headers another target can include.
    components = {n for n, t in targets.items() if any(f.endswith(".h") for f in t["files"])}

    def links_of(name):
        return [l for l in targets[name]["links"] if l in components]

    def component_of(name):
        base = name[: -len("_unittests")] if name.endswith("_unittests") else None
        return base if base in targets else None

    def allowed(name):
        result = {name, *links_of(name)}
        base = component_of(name)
        if base:
            result |= {base, *links_of(base)}
        return result

    reach_cache = {}

    def reaches(name):
        """Every component that `name` links, directly or through others."""
        if name not in reach_cache:
            reach_cache[name] = set()
            found = set()
            for l in links_of(name):
                found |= {l} | reaches(l)
            reach_cache[name] = found
        return reach_cache[name]

    def includes_of(path, seen):
        """(including file, line number, included file) for every include of
        `path` and of the unowned headers it includes."""
        try:
            with open(path, encoding="utf-8") as f:
                text = f.read()
        except OSError:
            return
        for m in INCLUDE.finditer(text):
            line = text.count("\n", 0, m.start()) + 1
            here = os.path.normpath(os.path.join(os.path.dirname(path), m.group(1)))
            top = os.path.normpath(os.path.join(root, m.group(1)))
            target = here if os.path.exists(here) else top
            if not os.path.exists(target):
                continue  # generated in the build folder
            yield path, line, target
            if target not in owner and target not in seen:
                seen.add(target)
                yield from includes_of(target, seen)

    def rel(path):
        return os.path.relpath(path, root)

    findings = {"undeclared": [], "upward": [], "public": [], "unused": [], "orphan": []}
    for top in OWNED_TREES:
        for folder, _, names in os.walk(os.path.join(root, top)):
            for file_name in names:
                path = os.path.normpath(os.path.join(folder, file_name))
                if file_name.endswith(CODE) and path not in owner:
                    findings["orphan"].append(f"{rel(path)} belongs to no target")
    for name, t in sorted(targets.items()):
        may = allowed(name)
        used = set()
        used_by_headers = set()
        for source in t["files"]:
            reported = set()
            for path, line, included in includes_of(source, set()):
                other = owner.get(included)
                if other is None or other == name:
                    continue
                used.add(other)
                if source.endswith(".h"):
                    used_by_headers.add(other)
                where = f"{rel(path)}:{line}: {name} includes {rel(included)} ({other})"
                if (path, line) in reported or (rel(path), rel(included)) in DELIBERATE:
                    continue
                reported.add((path, line))
                if other not in may:
                    findings["undeclared"].append(where + f": {name} does not link {other}")
                if name in reaches(other):
                    findings["upward"].append(where + f": {other} is above {name}")
        if t["kind"] == "EXECUTABLE":
            continue
        for link in links_of(name):
            if link not in used:
                findings["unused"].append(f"{name} links {link} but includes none of its headers")
            elif link in t["public"] and link not in used_by_headers:
                findings["public"].append(f"{name} links {link} PUBLIC but only its sources include it")
            elif link not in t["public"] and link in used_by_headers:
                findings["public"].append(f"{name} links {link} PRIVATE but a header of it includes it")

    failed = False
    for kind, lines in findings.items():
        for line in sorted(set(lines)):
            print(f"{kind}: {line}")
        failed = failed or bool(lines)
    counts = ", ".join(f"{len(set(v))} {k}" for k, v in findings.items())
    print(f"layering: {len(targets)} targets; {counts}")
    return 1 if failed and not report_only else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

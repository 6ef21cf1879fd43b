# SPDX-License-Identifier: Apache-2.0
"""Every shared library of the build links the one shared runtime instead of
carrying its own copy: no symbol of namespace corvane is defined (strongly) by
more than one of them, and every component library depends on the runtime."""

import glob
import os
import subprocess
import unittest

from support.programs import BIN, program

RUNTIME = "libcorvane-runtime.so"

# nm's letters for strong definitions in code, data, read-only data and bss.
# Weak definitions (W, V, u: inline functions, templates, vtables emitted
# beside them) are merged by the loader and do not copy any state.
STRONG = set("TDBR")


def shared_libraries():
    return sorted(glob.glob(os.path.join(os.path.abspath(BIN), "*.so")))


def corvane_definitions(library):
    output = subprocess.run(["nm", "-DC", "--defined-only", library],
                            check=True, capture_output=True,
                            text=True).stdout
    names = set()
    for line in output.splitlines():
        fields = line.split(" ", 2)
        if len(fields) < 3 or fields[1] not in STRONG:
            continue
        name = fields[2]
        for prefix in ("vtable for ", "typeinfo for ", "typeinfo name for "):
            name = name.removeprefix(prefix)
        if name.startswith("corvane::"):
            names.add(fields[2])
    return names


def needed_libraries(library):
    output = subprocess.run(["readelf", "-d", library], check=True,
                            capture_output=True, text=True).stdout
    return [line.split("[", 1)[1].rstrip("]")
            for line in output.splitlines() if "(NEEDED)" in line]


class RuntimeSymbolsTest(unittest.TestCase):
    def test_the_runtime_is_built(self):
        self.assertIn(program(RUNTIME), shared_libraries())
        self.assertIn("corvane::platform::Files()",
                      corvane_definitions(program(RUNTIME)))

    def test_no_corvane_symbol_is_defined_twice(self):
        owners = {}
        for library in shared_libraries():
            for name in corvane_definitions(library):
                owners.setdefault(name, []).append(os.path.basename(library))
        duplicates = {name: libraries for name, libraries in owners.items()
                      if len(libraries) > 1}
        listing = "\n".join(f"{name}: {', '.join(libraries)}"
                            for name, libraries in sorted(duplicates.items()))
        self.assertFalse(duplicates, f"defined more than once:\n{listing}")

    def test_the_runtime_exports_only_what_its_headers_mark(self):
        # Built with hidden visibility, the runtime exports the classes and
        # routines marked CORVANE_API, all of namespace corvane; a helper of
        # one source file, an inline copy or a standard template instance
        # that shows up here was exported by mistake.
        output = subprocess.run(
            ["nm", "-DC", "--defined-only", program(RUNTIME)], check=True,
            capture_output=True, text=True).stdout
        strays = []
        for line in output.splitlines():
            fields = line.split(" ", 2)
            if len(fields) < 3:
                continue
            name = fields[2]
            for prefix in ("vtable for ", "typeinfo for ",
                           "typeinfo name for ", "guard variable for "):
                name = name.removeprefix(prefix)
            owner = name.split("(", 1)[0]
            if owner.startswith("corvane::"):
                if "(anonymous namespace)" in name or "<" in owner:
                    strays.append(fields[2])
            elif fields[1] in STRONG:
                # The standard library's own type information stays
                # visible (weak, merged by the loader) as its headers ask.
                strays.append(fields[2])
        self.assertFalse(strays, "exported by mistake:\n" + "\n".join(strays))

    def test_component_libraries_load_the_runtime(self):
        for name in ("libpenrill.so", "libcargane.so", "libnamewell.so",
                     "libcorvanetest.so"):
            with self.subTest(library=name):
                # The runtime by its versioned name (SONAME).
                needed = needed_libraries(program(name))
                self.assertTrue(any(library.startswith(RUNTIME + ".")
                                    for library in needed), needed)


if __name__ == "__main__":
    unittest.main()

# SPDX-License-Identifier: Apache-2.0
"""The suite installed into a prefix of its own and packaged for Debian:
what goes where, that nothing installed points back into the source or build
tree, that programs built against the installed tree alone (examples/cpp)
create components by ProgID and encode with Tallowin, and that the
package, unpacked into a throwaway root, lists and creates every component."""

import email
import json
import os
import shutil
import subprocess
import tempfile
import unittest

from support.programs import BIN
from support.smtp_servers import RealSmtpServer
from support.whois_fixtures import DOMAIN_REPLY
from support.whois_server import WhoisServer

SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BUILD = os.path.dirname(os.path.abspath(BIN))
EXAMPLES = os.path.join(SOURCE, "examples", "cpp")

# Every component library and the ProgIDs it registers.
COMPONENTS = {
    "libpenrill.so": ["Corvane.SMTP", "Corvane.clsMail", "Corvane.clsMIMEObj"],
    "libnamewell.so": ["Corvane.WhoisQuery"],
    "libcargane.so": ["Corvane.upload"],
    "libvantry.so": ["Corvane.Vantry", "Corvane.CFile", "Corvane.CSubDir"],
}
PROGIDS = [progid for ids in COMPONENTS.values() for progid in ids]


def cached(name):
    """A value of the build's CMake cache."""
    with open(os.path.join(BUILD, "CMakeCache.txt")) as cache:
        for line in cache:
            key, _, value = line.rstrip("\n").partition("=")
            if key.split(":")[0] == name:
                return value
    raise KeyError(name)


VERSION = cached("CMAKE_PROJECT_VERSION")


def clean_environment(**extra):
    """The environment without anything that points at the build."""
    env = {key: value for key, value in os.environ.items()
           if key not in ("CORVANE_REGISTRY", "CORVANE_DATA", "CORVANE_BIN",
                          "LD_LIBRARY_PATH", "CMAKE_PREFIX_PATH",
                          "PKG_CONFIG_PATH")}
    env.update(extra)
    return env


def run(*args, env=None, **options):
    result = subprocess.run(list(args), capture_output=True, text=True,
                            env=env or clean_environment(), timeout=600,
                            **options)
    if result.returncode != 0:
        raise AssertionError(f"{args} failed ({result.returncode}):\n"
                             f"{result.stdout}\n{result.stderr}")
    return result.stdout


def is_elf(path):
    with open(path, "rb") as file:
        return file.read(4) == b"\x7fELF"


def run_paths(path):
    """The RUNPATH and RPATH entries of an ELF file."""
    entries = []
    for line in run("readelf", "-d", path).splitlines():
        if "(RUNPATH)" in line or "(RPATH)" in line:
            entries += line.split("[", 1)[1].rstrip("]").split(":")
    return entries


def regular_files(root):
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            if not os.path.islink(path):
                yield path


def listed_classes(corvane):
    """`corvane classes` as {ProgID: library}."""
    lines = run(corvane, "classes").splitlines()
    return dict(line.split("\t") for line in lines)


def created_classes(corvane):
    """The answers of `corvane run` to creating each ProgID."""
    script = "".join(json.dumps({"create": progid, "as": "o"}) + "\n"
                     for progid in PROGIDS)
    out = run(corvane, "run", "-", input=script)
    return [json.loads(line) for line in out.splitlines()]


class InstalledTree(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="corvane-install-")
        cls.prefix = os.path.join(cls.root, "prefix")
        run("cmake", "--install", BUILD, "--prefix", cls.prefix, "--strip")
        cls.libdir = os.path.join(cls.prefix, "lib")
        cls.corvane = os.path.join(cls.prefix, "bin", "corvane")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root)

    def test_every_part_is_in_its_place(self):
        major = VERSION.split(".")[0]
        expected = [
            "bin/corvane", "bin/wharfpost",
            f"lib/corvane/libcorvane-runtime.so.{major}",
            "lib/corvane/corvane.registry",
            f"lib/libtallowin.so.{major}", "lib/libtallowin.so",
            "include/Tallowin.h",
            "include/corvane/frame/Registry.h",
            "include/corvane/frame/Dispatch.h",
            "include/corvane/frame/Variant.h",
            "include/corvane/frame/MemoryHost.h",
            "include/corvane/frame/CgiHost.h",
            "include/corvane/platform/Failure.h",
            "lib/pkgconfig/tallowin.pc",
            "lib/cmake/Corvane/CorvaneConfig.cmake",
            "lib/cmake/Corvane/CorvaneConfigVersion.cmake",
            "lib/cmake/Corvane/CorvaneTargets.cmake",
            "share/doc/corvane/wharfpost.ini",
        ] + [f"lib/corvane/{library}" for library in COMPONENTS]
        for path in expected:
            with self.subTest(path=path):
                self.assertTrue(
                    os.path.exists(os.path.join(self.prefix, path)))
        self.assertFalse(os.path.exists(
            os.path.join(self.prefix, "include/corvane/frame/tests")))

    def test_nothing_installed_refers_to_the_source_or_build_tree(self):
        # The build tree lies inside the source tree.
        for path in regular_files(self.prefix):
            with self.subTest(path=os.path.relpath(path, self.prefix)):
                with open(path, "rb") as file:
                    self.assertNotIn(SOURCE.encode(), file.read())
                if is_elf(path):
                    for entry in run_paths(path):
                        self.assertTrue(entry.startswith("$ORIGIN"), entry)

    def test_installed_program_finds_the_installed_registry(self):
        self.assertEqual(run(self.corvane, "--version"),
                         f"corvane {VERSION}\n")
        classes = listed_classes(self.corvane)
        expected = {progid: os.path.join(self.libdir, "corvane", library)
                    for library, ids in COMPONENTS.items() for progid in ids}
        self.assertEqual(classes, expected)
        self.assertEqual(created_classes(self.corvane),
                         [{"ok": True}] * len(PROGIDS))
        # CORVANE_REGISTRY still names another registry.
        other = os.path.join(self.root, "other.registry")
        with open(other, "w") as registry:
            registry.write("Corvane.Other\t{0}\t/nonexistent/libother.so\n")
        self.assertEqual(
            run(self.corvane, "classes",
                env=clean_environment(CORVANE_REGISTRY=other)),
            "Corvane.Other\t/nonexistent/libother.so\n")

    def configure_examples(self):
        build = os.path.join(self.root, "examples")
        env = clean_environment(
            PKG_CONFIG_PATH=os.path.join(self.libdir, "pkgconfig"))
        run("cmake", "-S", EXAMPLES, "-B", build, "-G", "Ninja",
            f"-DCMAKE_PREFIX_PATH={self.prefix}", env=env)
        run("cmake", "--build", build, env=env)
        with open(os.path.join(build, "CMakeCache.txt")) as cache:
            self.assertIn(f"Corvane_DIR:PATH={self.libdir}/cmake/Corvane",
                          cache.read())
        for name in ("send_and_look_up", "encode"):
            for entry in run_paths(os.path.join(build, name)):
                self.assertFalse(entry.startswith(SOURCE), entry)
        return build

    def test_programs_built_against_the_prefix_alone(self):
        build = self.configure_examples()
        attachment = os.path.join(self.root, "photo.jpg")
        with open(attachment, "wb") as file:
            file.write(bytes(range(256)) * 3)
        with RealSmtpServer() as smtp, WhoisServer(DOMAIN_REPLY) as whois:
            out = run(os.path.join(build, "send_and_look_up"), smtp.address,
                      whois.address, "widget.zz", "from@example.org",
                      "to@example.org", attachment)
            self.assertEqual(out, "Sent to to@example.org\n"
                                  "Domain: WIDGET.ZZ\n"
                                  "Registrant: Widget Works (WIDGET-DOM)\n"
                                  "   1 Main Street\n"
                                  "   Springfield, XX 00000\n")
            self.assertEqual(whois.queries, [b"widget.zz\r\n"])
            self.assertEqual(len(smtp.envelopes), 1)
            message = email.message_from_bytes(smtp.envelopes[0].content)
            self.assertEqual(message["Subject"],
                             "Hello from an installed Corvane")
            # The attachment went through Tallowin, found from the runtime.
            parts = [part for part in message.walk()
                     if part.get_filename() == "photo.jpg"]
            self.assertEqual(len(parts), 1)
            self.assertEqual(parts[0].get_payload(decode=True),
                             bytes(range(256)) * 3)

        self.assertEqual(run(os.path.join(build, "encode"), "hi", "Corvane"),
                         "aGk= aGk=\nQ29ydmFuZQ== Q29ydmFuZQ==\n")

    def test_c_program_compiled_with_pkg_config_flags(self):
        env = clean_environment(
            PKG_CONFIG_PATH=os.path.join(self.libdir, "pkgconfig"))
        flags = run("pkg-config", "--cflags", "--libs", "tallowin",
                    env=env).split()
        libdir = run("pkg-config", "--variable=libdir", "tallowin",
                     env=env).strip()
        self.assertEqual(os.path.realpath(libdir), os.path.realpath(self.libdir))
        program = os.path.join(self.root, "encode-cc")
        run("cc", "-std=c11", "-Wall", "-Werror",
            os.path.join(EXAMPLES, "encode.c"), *flags,
            f"-Wl,-rpath,{libdir}", "-o", program)
        self.assertEqual(run(program, "hi"), "aGk= aGk=\n")


class DebianPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="corvane-package-")
        out = os.path.join(cls.root, "out")
        run("cpack", "--config", os.path.join(BUILD, "CPackConfig.cmake"),
            "-B", out)
        arch = run("dpkg", "--print-architecture").strip()
        cls.deb = os.path.join(out, f"corvane_{VERSION}_{arch}.deb")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root)

    def test_control_fields(self):
        info = run("dpkg-deb", "--info", self.deb)
        fields = dict(line.strip().split(": ", 1)
                      for line in info.splitlines()
                      if line.startswith(" ") and ": " in line
                      and not line.startswith("  "))
        self.assertEqual(fields["Package"], "corvane")
        self.assertEqual(fields["Version"], VERSION)
        self.assertEqual(fields["Section"], "web")
        self.assertIn("<", fields["Maintainer"])
        self.assertTrue(fields["Description"])
        depends = {item.split()[0] for item in fields["Depends"].split(", ")}
        self.assertLessEqual({"libc6", "libstdc++6", "libssl3", "libidn2-0",
                              "libcurl4"}, depends)

    def test_contents(self):
        listing = run("dpkg-deb", "--contents", self.deb)
        paths = {line.split()[-1] if " -> " not in line
                 else line.split()[-3] for line in listing.splitlines()}
        for path in ["./usr/bin/corvane", "./usr/bin/wharfpost",
                     "./usr/lib/corvane/corvane.registry",
                     "./usr/lib/libtallowin.so",
                     "./usr/include/Tallowin.h",
                     "./usr/include/corvane/frame/Registry.h",
                     "./usr/lib/pkgconfig/tallowin.pc",
                     "./usr/lib/cmake/Corvane/CorvaneConfig.cmake",
                     "./usr/share/corvane/rdap-bootstrap.json",
                     ] + [f"./usr/lib/corvane/{name}" for name in COMPONENTS]:
            with self.subTest(path=path):
                self.assertIn(path, paths)
        self.assertFalse([path for path in paths
                          if not path.startswith("./usr/")
                          and path not in ("./", "./usr/")])

    def test_unpacked_package_lists_and_creates_every_component(self):
        # Unpacked into a throwaway root, the machine's /usr untouched; the
        # tree finds its own runtime and registry wherever it lies.
        unpacked = os.path.join(self.root, "root")
        run("dpkg-deb", "-x", self.deb, unpacked)
        corvane = os.path.join(unpacked, "usr", "bin", "corvane")
        libraries = os.path.join(unpacked, "usr", "lib", "corvane")
        self.assertEqual(
            listed_classes(corvane),
            {progid: os.path.join(libraries, library)
             for library, ids in COMPONENTS.items() for progid in ids})
        self.assertEqual(created_classes(corvane),
                         [{"ok": True}] * len(PROGIDS))
        # Namewell reads the installed RDAP bootstrap from share/corvane.
        result = subprocess.run(
            [corvane, "whois", "--protocol", "rdap", "widget.zz"],
            env=clean_environment(), capture_output=True, text=True,
            timeout=60)
        self.assertEqual(result.returncode, 1)
        prefix = 'the top-level domain "zz" (RDAP bootstrap file '
        self.assertIn(prefix, result.stderr)
        path = result.stderr.split(prefix)[1].split(")")[0]
        self.assertEqual(os.path.realpath(path), os.path.join(
            os.path.realpath(unpacked), "usr", "share", "corvane",
            "rdap-bootstrap.json"))


if __name__ == "__main__":
    unittest.main()

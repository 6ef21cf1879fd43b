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
# lib/x86_64-linux-gnu on Debian: the libraries' folder under the prefix.
LIBDIR = cached("CMAKE_INSTALL_LIBDIR")


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


def python_created_classes(dist_packages):
    """The class names of every registered ProgID as Debian's python3
    creates them through the module installed in `dist_packages`, with the
    registry the module finds beside the runtime it loads."""
    script = ("import corvane\n"
              "print(corvane.registry())\n"
              "for progid in corvane.classes():\n"
              "    print(progid, type(corvane.create(progid)).__name__)\n")
    out = run("/usr/bin/python3", "-c", script,
              env=clean_environment(PYTHONPATH=dist_packages,
                                    PYTHONDONTWRITEBYTECODE="1"))
    registry, *lines = out.splitlines()
    return registry, dict(line.split() for line in lines)


PYTHON_CLASSES = {"Corvane.SMTP": "SMTP", "Corvane.upload": "upload",
                  "Corvane.WhoisQuery": "WhoisQuery",
                  "Corvane.Vantry": "Vantry"}


class InstalledTree(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="corvane-install-")
        cls.prefix = os.path.join(cls.root, "prefix")
        run("cmake", "--install", BUILD, "--prefix", cls.prefix, "--strip")
        cls.libdir = os.path.join(cls.prefix, LIBDIR)
        cls.corvane = os.path.join(cls.prefix, "bin", "corvane")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root)

    def test_every_part_is_in_its_place(self):
        major = VERSION.split(".")[0]
        expected = [
            "bin/corvane", "bin/wharfpost",
            f"{LIBDIR}/corvane/libcorvane-runtime.so.{major}",
            f"{LIBDIR}/corvane/corvane.registry",
            f"{LIBDIR}/libtallowin.so.{major}", f"{LIBDIR}/libtallowin.so",
            "include/Tallowin.h",
            "include/corvane/frame/Registry.h",
            "include/corvane/frame/Dispatch.h",
            "include/corvane/frame/Variant.h",
            "include/corvane/frame/MemoryHost.h",
            "include/corvane/frame/CgiHost.h",
            "include/corvane/platform/Failure.h",
            f"{LIBDIR}/pkgconfig/tallowin.pc",
            f"{LIBDIR}/cmake/Corvane/CorvaneConfig.cmake",
            f"{LIBDIR}/cmake/Corvane/CorvaneConfigVersion.cmake",
            f"{LIBDIR}/cmake/Corvane/CorvaneTargets.cmake",
            "share/doc/corvane/wharfpost.ini",
        ] + [f"{LIBDIR}/corvane/{library}" for library in COMPONENTS]
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

    def test_installed_python_module_finds_the_installed_runtime(self):
        # The module is a component of the installation of its own.
        run("cmake", "--install", BUILD, "--prefix", self.prefix,
            "--component", "python", "--strip")
        dist_packages = os.path.join(self.prefix, "lib", "python3",
                                     "dist-packages")
        modules = [name for name in os.listdir(dist_packages)
                   if name.startswith("corvane.")]
        self.assertIn("corvane.pyi", modules)
        module = os.path.join(dist_packages, next(
            name for name in modules if name.endswith(".so")))
        self.assertEqual(run_paths(module), [
            f"$ORIGIN/../../{LIBDIR.split('/', 1)[1]}/corvane"])
        registry, classes = python_created_classes(dist_packages)
        self.assertEqual(registry, os.path.join(self.libdir, "corvane",
                                                "corvane.registry"))
        self.assertLessEqual(PYTHON_CLASSES.items(), classes.items())
        self.assertEqual(set(classes), set(PROGIDS))

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


PACKAGES = ["corvane", "corvane-dev", "libtallowin1", "libtallowin-dev",
            "python3-corvane"]
MAINTAINER = "Corvane maintainers <maintainers@corvane.invalid>"
def debian_fields(deb):
    """The control fields of a package."""
    fields = {}
    for line in run("dpkg-deb", "--field", deb).splitlines():
        if line[:1] not in (" ", "\t") and ": " in line:
            key, value = line.split(": ", 1)
            fields[key] = value
    return fields


def contents(deb):
    """The paths a package holds, each as ./usr/... (links by their name)."""
    listing = run("dpkg-deb", "--contents", deb)
    return {line.split()[5] for line in listing.splitlines()}


class DebianPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="corvane-package-")
        out = os.path.join(cls.root, "out")
        run(os.path.join(SOURCE, "packaging", "build-deb"), BUILD, out)
        arch = run("dpkg", "--print-architecture").strip()
        cls.multiarch = run("dpkg-architecture",
                            "-qDEB_HOST_MULTIARCH").strip()
        cls.debs = {name: os.path.join(out, f"{name}_{VERSION}_{arch}.deb")
                    for name in PACKAGES}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root)

    def unpack(self, *names):
        """The packages unpacked into a throwaway root, the machine's /usr
        untouched; the root."""
        unpacked = tempfile.mkdtemp(prefix="root-", dir=self.root)
        for name in names:
            run("dpkg-deb", "-x", self.debs[name], unpacked)
        return unpacked

    def test_control_fields(self):
        fields = {name: debian_fields(deb) for name, deb in self.debs.items()}
        for name in PACKAGES:
            with self.subTest(package=name):
                self.assertEqual(fields[name]["Package"], name)
                self.assertEqual(fields[name]["Version"], VERSION)
                self.assertEqual(fields[name]["Maintainer"], MAINTAINER)
                self.assertTrue(fields[name]["Description"])
        depends = {name: {item.split()[0]
                          for item in fields[name]["Depends"].split(", ")}
                   for name in PACKAGES}
        self.assertLessEqual({"libc6", "libstdc++6", "libssl3", "libidn2-0",
                              "libcurl4", "libtallowin1"}, depends["corvane"])
        self.assertIn(f"libtallowin1 (= {VERSION})",
                      fields["corvane"]["Depends"])
        self.assertLessEqual({"corvane", "libtallowin-dev"},
                             depends["corvane-dev"])
        self.assertIn("libtallowin1", depends["libtallowin-dev"])
        self.assertEqual(fields["libtallowin1"]["Section"], "libs")
        self.assertEqual(fields["libtallowin1"]["Multi-Arch"], "same")

    def test_libraries_split_as_debian_splits_them(self):
        lib = f"./usr/lib/{self.multiarch}"
        expected = {
            "corvane": [
                "./usr/bin/corvane", "./usr/bin/wharfpost",
                f"{lib}/corvane/corvane.registry",
                f"{lib}/corvane/libcorvane-runtime.so.1",
                "./usr/share/corvane/rdap-bootstrap.json",
                "./etc/corvane/wharfpost.ini",
                "./usr/share/man/man1/corvane.1.gz",
                "./usr/share/man/man8/wharfpost.8.gz",
                "./usr/share/bash-completion/completions/corvane",
                "./lib/systemd/system/corvane.service",
                "./usr/share/doc/corvane/copyright",
                "./usr/share/doc/corvane/changelog.gz",
            ] + [f"{lib}/corvane/{name}" for name in COMPONENTS],
            "corvane-dev": [
                "./usr/include/corvane/frame/Registry.h",
                f"{lib}/cmake/Corvane/CorvaneConfig.cmake",
                f"{lib}/corvane/libcorvane-runtime.so",
            ],
            "libtallowin1": [f"{lib}/libtallowin.so.1",
                             "./usr/share/doc/libtallowin1/copyright"],
            "libtallowin-dev": [
                "./usr/include/Tallowin.h", f"{lib}/libtallowin.so",
                f"{lib}/pkgconfig/tallowin.pc",
            ],
        }
        held = {name: contents(deb) for name, deb in self.debs.items()}
        for name, paths in expected.items():
            for path in paths:
                with self.subTest(package=name, path=path):
                    self.assertIn(path, held[name])
        # The development link and headers stay out of the runtime packages.
        self.assertNotIn(f"{lib}/libtallowin.so", held["libtallowin1"])
        self.assertFalse([path for path in held["corvane"]
                          if path.startswith("./usr/include")])
        # ldconfig runs through a trigger, not from maintainer scripts.
        control = os.path.join(self.root, "control")
        run("dpkg-deb", "--control", self.debs["libtallowin1"], control)
        with open(os.path.join(control, "triggers")) as triggers:
            self.assertIn("activate-noawait ldconfig", triggers.read())
        with open(os.path.join(control, "shlibs")) as shlibs:
            self.assertIn("libtallowin 1 libtallowin1", shlibs.read())
        self.assertTrue(os.path.exists(os.path.join(control, "symbols")))
        for script in ("postinst", "postrm"):
            path = os.path.join(control, script)
            if os.path.exists(path):
                with open(path) as text:
                    self.assertNotIn("ldconfig", text.read())

    def test_lintian_finds_no_error_nor_warning(self):
        result = subprocess.run(
            ["lintian", "--no-tag-display-limit", "--display-info",
             *self.debs.values()],
            capture_output=True, text=True, timeout=600)
        # Neither errors nor warnings; what it says for information (the
        # hardening flags of a CMake build, false spelling hits) is allowed.
        tags = [line for line in result.stdout.splitlines()
                if line[:2] in ("E:", "W:")]
        self.assertEqual(tags, [], result.stdout)

    def test_unpacked_package_lists_and_creates_every_component(self):
        # The tree finds its own runtime and registry wherever it lies.
        unpacked = self.unpack("corvane", "libtallowin1")
        corvane = os.path.join(unpacked, "usr", "bin", "corvane")
        libraries = os.path.join(unpacked, "usr", "lib", self.multiarch,
                                 "corvane")
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

    def test_python_package_creates_every_component(self):
        fields = debian_fields(self.debs["python3-corvane"])
        self.assertIn(f"corvane (= {VERSION})", fields["Depends"])
        self.assertIn("python3 (>= 3.11)", fields["Depends"])
        unpacked = self.unpack("corvane", "libtallowin1", "python3-corvane")
        registry, classes = python_created_classes(
            os.path.join(unpacked, "usr", "lib", "python3", "dist-packages"))
        self.assertEqual(registry, os.path.join(
            unpacked, "usr", "lib", self.multiarch, "corvane",
            "corvane.registry"))
        self.assertLessEqual(PYTHON_CLASSES.items(), classes.items())
        self.assertEqual(set(classes), set(PROGIDS))

    def test_runtime_packages_alone_encode_attachments(self):
        # Without libtallowin-dev there is no libtallowin.so: Penrill and the
        # base64 command load the library by its versioned name.
        unpacked = self.unpack("corvane", "libtallowin1")
        corvane = os.path.join(unpacked, "usr", "bin", "corvane")
        self.assertEqual(run(corvane, "base64", "-", input="hi"), "aGk=")
        attachment = os.path.join(self.root, "photo.jpg")
        with open(attachment, "wb") as file:
            file.write(bytes(range(256)))
        logs = tempfile.mkdtemp(dir=self.root)
        with RealSmtpServer() as smtp:
            run(corvane, "mail", "--server", smtp.address, "--from",
                "a@example.org", "--to", "b@example.org", "--subject", "x",
                "--body", "y", "--attach", attachment, f"--log={logs}")
        message = email.message_from_bytes(smtp.envelopes[0].content)
        parts = [part for part in message.walk()
                 if part.get_filename() == "photo.jpg"]
        self.assertEqual(parts[0].get_payload(decode=True), bytes(range(256)))
        self.assertTrue(os.path.exists(os.path.join(logs, "SendMail.log")))

    def test_installed_wharfpost_reads_its_settings_from_etc(self):
        unpacked = self.unpack("corvane", "libtallowin1")
        wharfpost = os.path.join(unpacked, "usr", "bin", "wharfpost")
        environment = {"PATH": "/usr/bin:/bin", "REQUEST_METHOD": "POST",
                       "CONTENT_LENGTH": "0", "CONTENT_TYPE": "text/plain"}
        # Installed, the program does not read a file beside itself.
        with open(wharfpost + ".ini", "w") as beside:
            beside.write("[Wharfpost]\nCookieRequired=yes\n")
        answer = subprocess.run([wharfpost], env=environment, input=b"",
                                capture_output=True, timeout=60).stdout
        if not os.path.exists("/etc/corvane/wharfpost.ini"):
            self.assertIn(b"Read /etc/corvane/wharfpost.ini failed.", answer)
        self.assertNotIn(wharfpost.encode() + b".ini", answer)
        # A web server names another file through WHARFPOST_INI.
        named = os.path.join(self.root, "site.ini")
        with open(named, "w") as ini:
            ini.write("[Wharfpost]\nCookieRequired=yes\n")
        answer = subprocess.run([wharfpost], input=b"", capture_output=True,
                                env=dict(environment, WHARFPOST_INI=named),
                                timeout=60).stdout
        self.assertIn(f"Read {named} failed.".encode(), answer)

    def test_manual_pages_render(self):
        unpacked = self.unpack("corvane")
        man = os.path.join(unpacked, "usr", "share", "man")
        env = clean_environment(MANWIDTH="100", LC_ALL="C.UTF-8",
                                MAN_DISABLE_SECCOMP="1")
        pages = {
            "man1/corvane.1.gz": ["SUBCOMMANDS", "corvane files mkdir",
                                  "--parents", "corvane run", "EXIT STATUS",
                                  "Example:"],
            "man8/wharfpost.8.gz": ["UploadRoot", "FileTypesAllowed",
                                    "DiskQuota", "CookieRequired",
                                    "Location:", "WHARFPOST_INI",
                                    "/etc/corvane/wharfpost.ini"],
        }
        for page, words in pages.items():
            with self.subTest(page=page):
                result = subprocess.run(
                    ["man", "--warnings", "-l", os.path.join(man, page)],
                    env=env, capture_output=True, text=True, timeout=60)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stderr, "")
                for word in words:
                    self.assertIn(word, result.stdout)

    def test_bash_completion(self):
        unpacked = self.unpack("corvane", "libtallowin1")
        completion = os.path.join(unpacked, "usr", "share",
                                  "bash-completion", "completions", "corvane")
        bin_dir = os.path.join(unpacked, "usr", "bin")

        def complete(*words):
            script = (f"source {completion}\n"
                      f"COMP_WORDS=({' '.join(words)}); "
                      f"COMP_CWORD={len(words) - 1}\n"
                      "_corvane\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n")
            return run("bash", "--norc", "-c", script, env=clean_environment(
                PATH=bin_dir + ":" + os.environ["PATH"])).split()

        self.assertEqual(complete("corvane", "fi"), ["files"])
        self.assertEqual(complete("corvane", "files", "mk"), ["mkdir"])
        self.assertIn("--parents", complete("corvane", "files", "mkdir", "--"))
        self.assertIn("--log", complete("corvane", "mail", "--l"))

    def test_systemd_unit(self):
        unpacked = self.unpack("corvane")
        unit = os.path.join(unpacked, "lib", "systemd", "system",
                            "corvane.service")
        with open(unit) as text:
            settings = dict(line.split("=", 1) for line in
                            text.read().splitlines() if "=" in line)
        self.assertEqual(settings["ProtectSystem"], "strict")
        self.assertEqual(settings["StateDirectory"], "corvane")
        self.assertEqual(settings["DynamicUser"], "yes")
        self.assertIn("--data /var/lib/corvane", settings["ExecStart"])
        # Installed disabled: the maintainer scripts start nothing, and
        # enable the unit again only where the administrator had enabled it.
        control = os.path.join(self.root, "unit-control")
        run("dpkg-deb", "--control", self.debs["corvane"], control)
        with open(os.path.join(control, "postinst")) as postinst:
            script = postinst.read()
        self.assertNotIn("deb-systemd-invoke", script)
        enabling = script.split("deb-systemd-helper enable")[0]
        self.assertIn("deb-systemd-helper --quiet was-enabled", enabling)
        if not shutil.which("systemd-analyze"):
            self.skipTest("systemd-analyze is not installed (Debian package "
                          "systemd)")
        # The unit as installed, its program taken from the unpacked tree.
        checked = os.path.join(self.root, "corvane.service")
        corvane = os.path.join(unpacked, "usr", "bin", "corvane")
        with open(unit) as text, open(checked, "w") as out:
            out.write(text.read().replace("/usr/bin/corvane", corvane))
        # Documentation= names man:corvane(1), which the package holds but
        # the machine need not have installed.
        result = subprocess.run(["systemd-analyze", "verify", "--man=no",
                                 checked],
                                capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertNotIn("corvane.service:", result.stderr)

    def test_install_and_purge_in_a_throwaway_root(self):
        # dpkg with its own database in a scratch root; the maintainer
        # scripts run without chroot, with DPKG_ROOT naming the root.
        root = tempfile.mkdtemp(prefix="dpkg-root-", dir=self.root)
        admin = os.path.join(root, "var", "lib", "dpkg")
        for folder in ("info", "updates", "triggers"):
            os.makedirs(os.path.join(admin, folder))
        # The folders a Debian system has, which the packages share.
        for folder in ("etc", "var/log", "var/cache", "var/lib/private",
                       "var/lib/systemd"):
            os.makedirs(os.path.join(root, folder), exist_ok=True)
        open(os.path.join(admin, "status"), "w").close()
        before = set(walk(root))
        dpkg = ["dpkg", f"--root={root}", f"--log={self.root}/dpkg.log",
                "--force-script-chrootless", "--force-depends",
                "--force-not-root"]
        run(*dpkg, "--install", *self.debs.values())
        self.assertTrue(os.path.exists(os.path.join(
            root, "etc", "corvane", "wharfpost.ini")))
        # What the programs and the service write while installed.
        for path in ("var/log/corvane/SendMail.log",
                     "var/lib/private/corvane/uploads/a.txt",
                     "var/cache/corvane/x"):
            os.makedirs(os.path.dirname(os.path.join(root, path)),
                        exist_ok=True)
            with open(os.path.join(root, path), "w") as out:
                out.write("x")
        os.symlink("private/corvane", os.path.join(root, "var/lib/corvane"))
        run(*dpkg, "--purge", *PACKAGES)
        left = sorted(path for path in set(walk(root)) - before
                      if not path.startswith("var/lib/dpkg/"))
        self.assertEqual(left, [])


def walk(root):
    """Every path under root, relative to it."""
    for folder, names, files in os.walk(root):
        for name in names + files:
            yield os.path.relpath(os.path.join(folder, name), root)


if __name__ == "__main__":
    unittest.main()

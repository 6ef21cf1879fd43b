# SPDX-License-Identifier: Apache-2.0
"""`corvane files` end to end: every subcommand runs the real program,
which loads Corvane.Vantry from the registry, against a scratch tree."""

import json
import os
import shutil
import stat
import subprocess
import tempfile
import unittest

from support.programs import program

DIRECTORY_NOT_DELETED = -2147220504


def files(*args, stdin=b""):
    """Exit status, standard output and standard error of one command."""
    result = subprocess.run([program("corvane"), "files", *args], input=stdin,
                            capture_output=True, timeout=60)
    return result.returncode, result.stdout, result.stderr.decode()


class FilesCommand(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="vantry-e2e-")
        self.addCleanup(self.clean)

    def clean(self):
        for top, dirs, names in os.walk(self.root):
            for name in dirs + names:
                path = os.path.join(top, name)
                if not os.path.islink(path):
                    os.chmod(path, 0o755)
        shutil.rmtree(self.root)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def put(self, name, content):
        os.makedirs(os.path.dirname(self.path(name)), exist_ok=True)
        with open(self.path(name), "wb") as out:
            out.write(content)

    def read(self, name):
        with open(self.path(name), "rb") as source:
            return source.read()

    def assertDone(self, outcome, stdout=None):
        status, out, err = outcome
        self.assertEqual((status, err), (0, ""))
        if stdout is not None:
            self.assertEqual(out, stdout)

    def test_put_cat_cp_and_info_keep_every_byte(self):
        content = bytes(range(256)) * 3
        self.assertDone(files("put", self.path("a.bin"), stdin=content),
                        b"768\n")
        self.assertDone(files("cat", self.path("a.bin")), content)
        self.assertDone(files("cp", self.path("a.bin"), self.path("b.bin")))
        self.assertEqual(self.read("b.bin"), content)
        status, out, _ = files("info", self.path("b.*"), "--json")
        self.assertEqual(status, 0)
        record = json.loads(out)
        self.assertEqual((record["name"], record["length"], record["attr"]),
                         ("b.bin", 768, 32))
        self.assertEqual(record["last_write_time"][2], "/")

    def test_ls_as_table_and_as_json(self):
        self.put("d/file.txt", b"12345")
        self.put("d/.hidden", b"")
        os.mkdir(self.path("d", "sub"))
        status, out, _ = files("ls", self.path("d"))
        self.assertEqual(status, 0)
        lines = out.decode().splitlines()
        self.assertEqual(lines[0].split(), ["Attr", "Size", "Date", "and",
                                            "time", "Name"])
        self.assertEqual(lines[1].split()[:2], ["---D-", "<DIR>"])
        self.assertEqual(lines[1].split()[-1], "sub")
        self.assertEqual(lines[2].split()[:2], ["----A", "5"])
        self.assertEqual(lines[2].split()[-1], "file.txt")
        status, out, _ = files("ls", self.path("d"), "--json")
        listing = json.loads(out)
        self.assertEqual([f["name"] for f in listing["files"]], ["file.txt"])
        self.assertEqual([d["name"] for d in listing["subdirs"]], ["sub"])

    def test_tree_operations(self):
        self.put("src/a.txt", b"a")
        self.put("src/b.log", b"b")
        self.assertDone(files("mkdir", self.path("dst")))
        self.assertDone(files("cpx", self.path("src"), self.path("dst"),
                              "*.txt"))
        self.assertEqual(sorted(os.listdir(self.path("dst"))), ["a.txt"])
        self.assertDone(files("mv", self.path("dst", "a.txt"),
                              self.path("moved.txt")))
        self.assertDone(files("rm", self.path("moved.txt")))
        self.assertDone(files("exists", self.path("src", "*.log")), b"1\n")
        self.assertDone(files("rmtree", self.path("src")))
        self.assertFalse(os.path.exists(self.path("src")))
        self.assertDone(files("attr", self.path("dst")), b"16 ---D-\n")
        status, out, _ = files("df", "--bytes", self.root)
        self.assertEqual(status, 0)
        self.assertGreater(int(out), 0)

    def test_failures_exit_1_with_the_result_and_the_triple(self):
        self.put("a", b"first")
        self.put("b", b"second")
        self.put("d/sub/locked", b"x")
        os.chmod(self.path("d", "sub", "locked"), stat.S_IRUSR)
        cases = [
            (("mv", self.path("a"), self.path("b")),
             "result -1\nerror 58 (Vantry): File already exists"),
            (("rmtree", self.path("d")),
             f"result -1\nerror {DIRECTORY_NOT_DELETED} (Calling "
             "RemoveDirectory API): Not able to delete the directory\n"
             "system: Directory not empty\n"),
            (("cat", self.path("missing")), "error 53 (Vantry): File not found"),
            (("rm", self.path("missing")), "result 0"),
            (("exists", self.path("missing")), "result 0"),
            (("attr", self.path("a"), "2"),
             "error 5 (Vantry): Invalid procedure call or argument"),
        ]
        for args, expected in cases:
            with self.subTest(args=args[0]):
                status, _, err = files(*args)
                self.assertEqual(status, 1)
                self.assertIn(expected, err)
        self.assertEqual(self.read("b"), b"second")
        self.assertEqual(self.read("d/sub/locked"), b"x")

    def test_a_refused_access_shows_the_systems_reason(self):
        # Root passes every mode: it runs the command as nobody instead.
        prefix = []
        if os.geteuid() == 0:
            setpriv = shutil.which("setpriv")
            if setpriv is None:
                self.skipTest("root, and no setpriv to run as nobody")
            prefix = [setpriv, "--reuid=65534", "--regid=65534",
                      "--clear-groups"]
            os.chmod(self.root, 0o755)
        os.mkdir(self.path("locked"))
        os.chmod(self.path("locked"), 0o500)
        target = self.path("locked", "new")
        result = subprocess.run(prefix + [program("corvane"), "files", "mkdir",
                                          target],
                                capture_output=True, timeout=60)
        if prefix and b"error while loading shared libraries" in result.stderr:
            self.skipTest("the build cannot be run as nobody")
        status, err = result.returncode, result.stderr.decode()
        self.assertEqual(status, 1)
        self.assertEqual(err, f"corvane files mkdir: permission denied: "
                         f"{target}\nresult -1\nerror 75 (Vantry): Path/File "
                         f"access error: {target}\nsystem: Permission denied\n")

    def test_put_below_a_file_fails_at_once_naming_the_file(self):
        self.put("afile", b"x")
        target = self.path("afile", "x")
        # A regression spins: the time-out of files() fails the test.
        status, _, err = files("put", target, stdin=b"x")
        self.assertEqual(status, 1)
        self.assertIn(f"error 76 (Vantry): Path not found: {target}\n", err)
        self.assertEqual(self.read("afile"), b"x")

    def test_ls_and_info_show_control_characters_escaped(self):
        self.put("d/evil\nforged\x1b[2J\\x", b"")
        status, out, _ = files("ls", self.path("d"))
        self.assertEqual(status, 0)
        lines = out.split(b"\n")
        self.assertEqual(len(lines), 3, out)  # header, one row, end
        self.assertTrue(lines[1].endswith(b"evil\\x0aforged\\x1b[2J\\\\x"),
                        out)
        status, out, _ = files("info", self.path("d", "evil*"))
        self.assertEqual(status, 0)
        self.assertNotIn(b"\x1b", out)
        self.assertIn(b"Name:           evil\\x0aforged", out)


    def test_failures_name_the_path_and_the_reason(self):
        self.put("a", b"first")
        self.put("b", b"second")
        missing = self.path("missing")
        cases = [
            (("rm", missing), f"rm: no such file or directory: {missing}\n"),
            (("cat", missing), f"cat: no such file: {missing}\n"),
            (("mv", self.path("a"), self.path("b")),
             f"mv: already exists: {self.path('b')}\n"),
        ]
        for args, first_line in cases:
            with self.subTest(args=args[0]):
                status, _, err = files(*args)
                self.assertEqual(status, 1)
                self.assertTrue(err.startswith("corvane files " + first_line),
                                err)

    def test_mkdir_with_parents(self):
        deep = self.path("a", "b", "c")
        status, _, err = files("mkdir", deep)
        self.assertEqual(status, 1, err)
        self.assertDone(files("mkdir", "-p", deep))
        self.assertTrue(os.path.isdir(deep))
        self.assertDone(files("mkdir", "-p", deep))  # already there
        self.put("a/file", b"x")
        status, _, err = files("mkdir", "-p", self.path("a", "file", "d"))
        self.assertEqual(status, 1)
        self.assertIn(self.path("a", "file"), err)

    def test_ls_sorted_with_sizes_people_read(self):
        self.put("d/zeta.txt", b"z" * 2048)
        self.put("d/alpha.txt", b"a" * 10)
        with open(self.path("d", "mid.bin"), "wb") as out:
            out.truncate(5 * 1024 * 1024)
        os.mkdir(self.path("d", "sub"))

        def rows(*options):
            status, out, err = files("ls", self.path("d"), *options)
            self.assertEqual(status, 0, err)
            return [(line.split()[1], line.split()[-1])
                    for line in out.decode().splitlines()[2:]]

        self.assertEqual(rows(), [("10", "alpha.txt"), ("5.0M", "mid.bin"),
                                  ("2.0K", "zeta.txt")])
        self.assertEqual(rows("--sort", "size"),
                         [("5.0M", "mid.bin"), ("2.0K", "zeta.txt"),
                          ("10", "alpha.txt")])
        self.assertEqual(rows("--bytes")[1], ("5242880", "mid.bin"))
        status, out, _ = files("ls", self.path("d"), "--json", "--sort",
                               "name")
        self.assertEqual([f["name"] for f in json.loads(out)["files"]],
                         ["alpha.txt", "mid.bin", "zeta.txt"])
        status, _, err = files("ls", self.path("d"), "--sort", "colour")
        self.assertEqual(status, 2, err)


if __name__ == "__main__":
    unittest.main()

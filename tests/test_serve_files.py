# SPDX-License-Identifier: Apache-2.0
"""The console's Files page end to end: `corvane serve` lists, downloads,
deletes, makes directories and copies by a pattern inside its data
directory, and refuses every path that leads out of it: "..", absolute
paths and symbolic links, for each of those actions."""

import html
import http.client
import os
import re
import shutil
import tempfile
import unittest
import urllib.parse

from support.console import Console

HOSTILE = "<img src=x onerror=alert('1')>"
SECRET = b"the outside file's secret bytes"


class FilesPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="corvane-files-")
        cls.data = os.path.join(cls.scratch, "var")
        cls.outside = os.path.join(cls.scratch, "outside")
        os.makedirs(cls.outside)
        with open(os.path.join(cls.outside, "secret.txt"), "wb") as out:
            out.write(SECRET)
        cls.console = Console(cls.data).__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.console.__exit__(None, None, None)
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def setUp(self):
        # A fresh tree per test: docs/ with files and links in and out.
        self.docs = os.path.join(self.data, "docs")
        shutil.rmtree(self.docs, ignore_errors=True)
        os.makedirs(self.docs)
        self.addCleanup(shutil.rmtree, self.docs, True)
        for name, content in (("a.txt", b"alpha"), ("b.txt", b"bravo"),
                              ("c.log", b"charlie")):
            self.write(name, content)
        os.symlink(os.path.join(self.outside, "secret.txt"),
                   os.path.join(self.docs, "out.txt"))
        os.symlink(self.outside, os.path.join(self.docs, "escape"))
        os.makedirs(os.path.join(self.docs, "sub"))

    def write(self, name, content):
        with open(os.path.join(self.docs, name), "wb") as out:
            out.write(content)

    def get(self, page, **query):
        return self.console.get(page + "?" + urllib.parse.urlencode(query))

    def post(self, **fields):
        return self.console.post("/files", fields)

    def test_paths_that_lead_out_are_refused_for_every_action(self):
        cases = [
            # (what, request, expected status, words of the message)
            ("list ..", lambda: self.get("/files", path="docs/../.."), 403,
             "climbs"),
            ("list absolute", lambda: self.get("/files", path="/etc"), 403,
             "absolute path"),
            ("list a link out", lambda: self.get("/files",
                                                 path="docs/escape"), 403,
             "leads out"),
            ("download ..", lambda: self.get("/files/download",
                                             path="../outside/secret.txt"),
             403, "climbs"),
            ("download absolute", lambda: self.get(
                "/files/download", path=self.outside + "/secret.txt"), 403,
             "absolute path"),
            ("download a link out", lambda: self.get("/files/download",
                                                     path="docs/out.txt"),
             403, "leads out"),
            ("download through a directory link out", lambda: self.get(
                "/files/download", path="docs/escape/secret.txt"), 403,
             "leads out"),
            ("delete a link out", lambda: self.post(
                action="delete", path="docs", item="docs/out.txt"), 403,
             "leads out"),
            ("delete through a directory link out", lambda: self.post(
                action="delete", path="docs", item="docs/escape/secret.txt"),
             403, "leads out"),
            ("delete ..", lambda: self.post(
                action="delete", path="", item="../outside/secret.txt"), 403,
             "climbs"),
            ("copy to a link out", lambda: self.post(
                action="copy", path="docs", **{"from": "docs"},
                to="docs/escape", pattern="a.txt"), 403, "leads out"),
            ("copy to an absolute path", lambda: self.post(
                action="copy", path="docs", **{"from": "docs"},
                to=self.outside, pattern="a.txt"), 403, "absolute path"),
            ("copy a link out", lambda: self.post(
                action="copy", path="docs", **{"from": "docs"}, to="docs/sub",
                pattern="*.txt"), 403, "leads out"),
            ("make a directory through a link out", lambda: self.post(
                action="mkdir", path="docs/escape", name="made"), 403,
             "leads out"),
            ("make a directory named ..", lambda: self.post(
                action="mkdir", path="docs", name=".."), 400, "without"),
        ]
        for what, request, status, words in cases:
            with self.subTest(what):
                got, page = request()
                self.assertEqual(got, status, page)
                self.assertIn(words, page)
                self.assertNotIn(SECRET.decode(), page)
        self.assertEqual(sorted(os.listdir(self.outside)), ["secret.txt"])
        with open(os.path.join(self.outside, "secret.txt"), "rb") as kept:
            self.assertEqual(kept.read(), SECRET)
        self.assertTrue(os.path.islink(os.path.join(self.docs, "out.txt")))
        self.assertEqual(os.listdir(os.path.join(self.docs, "sub")), [])

    def test_listing_shows_the_entries_and_marks_links_out(self):
        os.symlink("sub", os.path.join(self.docs, "inside"))
        status, page = self.get("/files", path="docs")
        self.assertEqual(status, 200)
        self.assertIn('<span class="file">a.txt</span></td>'
                      '<td class="size" title="5 bytes">5 bytes</td>', page)
        self.assertNotIn("archive", page)
        self.assertIn('href="/files?path=docs%2Fsub">sub/</a>', page)
        self.assertIn('href="/files?path=docs%2Finside">inside/</a>', page)
        self.assertEqual(page.count("leads out of the data directory: "
                                    "refused"), 2)
        self.assertIn('href="/files/download?path=docs%2Fc.log"', page)
        self.assertEqual(self.get("/files", path="docs/inside")[0], 200)
        status, page = self.get("/files", path="docs/missing")
        self.assertEqual(status, 404)
        self.assertIn("No file or directory is named", page)

    def test_a_link_to_a_fifo_inside_is_listed(self):
        os.mkfifo(os.path.join(self.docs, "sub", "pipe"))
        os.symlink("sub/pipe", os.path.join(self.docs, "pipe-link"))
        status, page = self.get("/files", path="docs")
        self.assertEqual(status, 200, page)
        self.assertIn("pipe-link", page)
        self.assertNotIn("/proc/self", page)

    def test_html_in_a_file_name_is_escaped(self):
        self.write(HOSTILE, b"x")
        status, page = self.get("/files", path="docs")
        self.assertEqual(status, 200)
        self.assertNotIn(HOSTILE, page)
        self.assertIn(html.escape(HOSTILE).replace("&#x27;", "&#39;"), page)

    def test_download_sends_the_bytes_with_its_type_and_name(self):
        content = os.urandom(300000)
        name = 'report "2026" ü.pdf'
        self.write(name, content)
        status, _, headers = self.console.request(
            "GET", "/files/download?" + urllib.parse.urlencode(
                {"path": "docs/" + name}))
        self.assertEqual(status, 200)
        self.assertEqual(headers["Content-Type"], "application/pdf")
        self.assertEqual(
            headers["Content-Disposition"],
            "attachment; filename=\"report _2026_ u.pdf\"; "
            "filename*=UTF-8''report%20%222026%22%20%C3%BC.pdf")
        raw = self.raw_get("/files/download?path=docs%2F" +
                           urllib.parse.quote(name, safe=""))
        self.assertEqual(raw, content)
        self.write("R\u00e9sum\u00e9 \u0141\u00f3d\u017a \u65e5.pdf", b"cv")
        _, _, headers = self.console.request(
            "GET", "/files/download?path=" + urllib.parse.quote(
                "docs/R\u00e9sum\u00e9 \u0141\u00f3d\u017a \u65e5.pdf"))
        self.assertTrue(headers["Content-Disposition"].startswith(
            'attachment; filename="Resume Lodz _.pdf"; '
            "filename*=UTF-8''R%C3%A9sum%C3%A9%20"), headers)
        status, page = self.get("/files/download", path="docs/sub")
        self.assertEqual(status, 400)
        self.assertIn("is a directory", page)

    def raw_get(self, path):
        return self.console.fetch("GET", path)[1]

    def download(self, name, **headers):
        return self.console.fetch(
            "GET", "/files/download?path=docs%2F" + name,
            headers={key.replace("_", "-"): value
                     for key, value in headers.items()})

    def test_download_resumes_by_ranges_of_the_same_version_only(self):
        content = os.urandom(300000)
        self.write("big.bin", content)
        status, whole, headers = self.download("big.bin")
        self.assertEqual((status, whole), (200, content))
        self.assertEqual(headers["Accept-Ranges"], "bytes")
        etag = headers["ETag"]

        status, part, headers = self.download("big.bin", Range="bytes=1000-1999")
        self.assertEqual((status, part), (206, content[1000:2000]))
        self.assertEqual(headers["Content-Range"], "bytes 1000-1999/300000")
        status, _, headers = self.download("big.bin", Range="bytes=400000-")
        self.assertEqual(status, 416)
        self.assertEqual(headers["Content-Range"], "bytes */300000")
        # An interrupted download goes on from where it stopped.
        status, rest, _ = self.download("big.bin", Range="bytes=150000-",
                                        If_Range=etag)
        self.assertEqual(status, 206)
        self.assertEqual(content[:150000] + rest, content)
        status, body, _ = self.download("big.bin", If_None_Match=etag)
        self.assertEqual((status, body), (304, b""))

        # Another version under the name: its whole, never a spliced part.
        changed = os.urandom(200000)
        self.write("big.bin", changed)
        status, body, headers = self.download("big.bin", Range="bytes=150000-",
                                              If_Range=etag)
        self.assertEqual((status, body), (200, changed))
        self.assertNotEqual(headers["ETag"], etag)

    def test_a_large_download_keeps_the_console_memory_flat(self):
        size = 1 << 30
        with open(os.path.join(self.docs, "huge.bin"), "wb") as out:
            out.truncate(size)  # sparse: no disk spent
        _, memory_before = self.console.status()
        connection = http.client.HTTPConnection("127.0.0.1", self.console.port,
                                                timeout=120)
        try:
            connection.request("GET", "/files/download?path=docs%2Fhuge.bin",
                               headers={"Cookie": self.console.cookie})
            response = connection.getresponse()
            self.assertEqual(response.status, 200)
            received, peak = 0, memory_before
            while piece := response.read(1 << 20):
                received += len(piece)
                if received % (64 << 20) < len(piece):
                    peak = max(peak, self.console.status()[1])
        finally:
            connection.close()
        self.assertEqual(received, size)
        self.assertLess(peak - memory_before, 32 * 1024,
                        (memory_before, peak))

    def test_delete_a_file_and_a_directory_tree(self):
        os.makedirs(os.path.join(self.docs, "sub", "deeper"))
        self.write("sub/deeper/x.bin", b"x")
        for item in ("docs/a.txt", "docs/sub"):
            with self.subTest(item=item):
                status, page = self.post(action="delete", path="docs",
                                         item=item)
                self.assertEqual(status, 200, page)
                self.assertIn('id="result"><code>' + item, page)
                self.assertIn("deleted.", page)
                self.assertFalse(os.path.exists(os.path.join(self.data,
                                                             item)))
        status, page = self.post(action="delete", path="docs",
                                 item="docs/a.txt")
        self.assertEqual(status, 404)
        # A read-only file stops the walk of a tree; the walk's error number
        # is beyond what the component's getter returns.
        os.makedirs(os.path.join(self.docs, "sub2"))
        self.write("sub2/ro.txt", b"stays")
        os.chmod(os.path.join(self.docs, "sub2", "ro.txt"), 0o444)
        status, page = self.post(action="delete", path="docs",
                                 item="docs/sub2")
        self.assertEqual(status, 200)
        self.assertIn('id="result">Not everything was deleted', page)
        self.assertIn("(beyond 16 bits) from Calling DeleteFile API: "
                      "Not able to delete the file", page)
        self.assertTrue(os.path.exists(os.path.join(self.docs, "sub2",
                                                    "ro.txt")))
        # One level down, the directory holding it is then not empty: the
        # system's reason follows the component's own texts under Details.
        os.makedirs(os.path.join(self.docs, "sub3", "inner"))
        self.write("sub3/inner/ro.txt", b"stays")
        os.chmod(os.path.join(self.docs, "sub3", "inner", "ro.txt"), 0o444)
        status, page = self.post(action="delete", path="docs",
                                 item="docs/sub3")
        self.assertEqual(status, 200)
        details = page[page.index("<summary>Details</summary>"):]
        self.assertIn("(beyond 16 bits) from Calling RemoveDirectory API: "
                      "Not able to delete the directory</p>"
                      '<p id="system-text">System: Directory not empty</p>',
                      details)

    def test_make_a_directory_and_fail_on_an_existing_one(self):
        status, page = self.post(action="mkdir", path="docs", name="new one")
        self.assertEqual(status, 200)
        self.assertIn("The folder <code>docs/new one/</code> was made.", page)
        self.assertTrue(os.path.isdir(os.path.join(self.docs, "new one")))
        status, page = self.post(action="mkdir", path="docs", name="new one")
        self.assertIn('id="result">No folder was made: <code>docs/new one'
                      '</code> exists already.', page)
        self.assertIn("from Vantry", page)
        self.assertIn("/docs/new one", page)
        self.assertNotIn("/proc/self", page)

    def test_copy_by_a_pattern(self):
        os.unlink(os.path.join(self.docs, "out.txt"))
        self.write("sub/a.txt", b"old")
        status, page = self.post(action="copy", path="docs",
                                 **{"from": "docs"}, to="docs/sub",
                                 pattern="*.txt")
        self.assertEqual(status, 200, page)
        self.assertIn("2 files matching <code>*.txt</code> copied from "
                      "<code>docs/</code> to <code>docs/sub/</code>.", page)
        self.assertEqual(sorted(os.listdir(os.path.join(self.docs, "sub"))),
                         ["a.txt", "b.txt"])
        for name in ("a.txt", "b.txt"):
            with open(os.path.join(self.docs, name), "rb") as source, \
                    open(os.path.join(self.docs, "sub", name), "rb") as copy:
                self.assertEqual(copy.read(), source.read())
        # An empty pattern takes every plain file; the directory link out
        # is no file, so it is neither copied nor a reason to refuse.
        os.makedirs(os.path.join(self.docs, "all"))
        status, page = self.post(action="copy", path="docs",
                                 **{"from": "docs"}, to="docs/all",
                                 pattern="")
        self.assertEqual(status, 200, page)
        self.assertEqual(sorted(os.listdir(os.path.join(self.docs, "all"))),
                         ["a.txt", "b.txt", "c.log"])


    def test_listing_sorts_folders_first_and_shows_pages(self):
        many = os.path.join(self.docs, "many")
        os.makedirs(os.path.join(many, "zeta"))
        os.makedirs(os.path.join(many, "alpha"))
        for number in range(450):
            with open(os.path.join(many, f"f{number:04}.txt"), "wb") as out:
                out.write(b"x" * ((number * 7) % 451))
            os.utime(os.path.join(many, f"f{number:04}.txt"),
                     (0, 1_700_000_000 + (number * 37) % 450))

        def names(**query):
            status, page = self.console.get("/files?" + urllib.parse.urlencode(
                {"path": "docs/many", **query}))
            self.assertEqual(status, 200, page)
            return page, re.findall(
                r'<tr><td>(?:<a class="directory"[^>]*>|'
                r'<span class="file">)([^<]+)<', page)

        files = [f"f{n:04}.txt" for n in range(450)]
        by_size = sorted(files, key=lambda n: (-((int(n[1:5]) * 7) % 451), n))
        by_time = sorted(files, key=lambda n: ((int(n[1:5]) * 37) % 450, n))
        page, shown = names()
        self.assertEqual(shown, ["alpha/", "zeta/"] + files[:198])
        self.assertIn("452 entries, 1 to 200 shown.", page)
        page, shown = names(sort="size", order="desc", page="2")
        self.assertEqual(shown, by_size[198:398])
        # Page links keep the order; the heading offers the other way.
        self.assertIn('href="/files?path=docs%2Fmany&amp;sort=size&amp;'
                      'order=desc&amp;page=3">3</a>', page)
        self.assertIn('aria-sort="descending"><a href="/files?path=docs%2Fmany'
                      '&amp;sort=size&amp;order=asc&amp;page=1"', page)
        page, shown = names(sort="time", page="3")
        self.assertEqual(shown, by_time[398:])
        self.assertIn("401 to 452 shown", page)
        # A page beyond the last shows the last; nonsense sorts by name.
        self.assertEqual(names(sort="<x>", page="99")[1], files[398:])

    def test_delete_asks_first_and_the_consoles_folders_stay(self):
        self.write("sub/x.txt", b"x")
        status, page = self.get("/files", path="docs", delete="docs/sub")
        self.assertEqual(status, 200, page)
        self.assertIn("Delete the folder <code>docs/sub/</code> and "
                      "everything in it?", page)
        self.assertIn('name="item" value="docs/sub"', page)
        self.assertTrue(os.path.exists(os.path.join(self.docs, "sub", "x.txt")))
        status, page = self.get("/files", path="docs", delete="docs/a.txt")
        self.assertIn("Delete the file <code>docs/a.txt</code>?", page)
        status, page = self.post(action="delete", path="docs", item="docs/sub")
        self.assertIn("<code>docs/sub/</code> and everything in it were "
                      "deleted.", page)
        self.assertFalse(os.path.exists(os.path.join(self.docs, "sub")))

        for own in ("uploads", "gateway"):
            os.makedirs(os.path.join(self.data, own), exist_ok=True)
            for what, request in (
                    ("ask", lambda: self.get("/files", delete=own)),
                    ("delete", lambda: self.post(action="delete", path="",
                                                 item=own + "/")),
                    ("rename", lambda: self.post(action="rename", path="",
                                                 item=own, to="docs/moved")),
                    ("ask rename", lambda: self.get("/files", rename=own))):
                with self.subTest(own=own, what=what):
                    status, page = request()
                    self.assertEqual(status, 403, page)
                    self.assertIn(f"{own}/ is one of the console&#39;s own folders "
                                  "and cannot be", page)
            self.assertTrue(os.path.isdir(os.path.join(self.data, own)))
        status, page = self.get("/files")
        self.assertEqual(page.count("<em>used by the console</em>"), 2)
        self.assertNotIn('href="/files?path=&amp;delete=uploads"', page)

    def test_rename_and_move_keep_what_was_typed_on_failure(self):
        status, page = self.get("/files", path="docs", rename="docs/a.txt")
        self.assertIn('name="to" id="to" value="docs/a.txt"', page)
        status, page = self.post(action="rename", path="docs",
                                 item="docs/a.txt", to="docs/sub/moved.txt")
        self.assertEqual(status, 200, page)
        self.assertIn("<code>docs/a.txt</code> is now "
                      "<code>docs/sub/moved.txt</code>.", page)
        with open(os.path.join(self.docs, "sub", "moved.txt"), "rb") as moved:
            self.assertEqual(moved.read(), b"alpha")
        status, page = self.post(action="rename", path="docs",
                                 item="docs/b.txt", to="docs/c.log")
        self.assertEqual(status, 409)
        self.assertIn("exists already", page)
        self.assertIn('name="to" id="to" value="docs/c.log"', page)
        with open(os.path.join(self.docs, "c.log"), "rb") as kept:
            self.assertEqual(kept.read(), b"charlie")
        for to, words in (("docs/sub/inner", "into itself"),
                          ("docs/escape/b.txt", "leads out"),
                          ("../b.txt", "climbs")):
            with self.subTest(to=to):
                source = "docs/sub" if "inner" in to else "docs/b.txt"
                status, page = self.post(action="rename", path="docs",
                                         item=source, to=to)
                self.assertIn(words, page)
        self.assertEqual(os.listdir(self.outside), ["secret.txt"])

    def test_upload_into_the_folder_shown_keeps_both_or_replaces(self):
        def upload(existing, *files):
            return self.console.post(
                "/files?path=docs", {"existing": existing},
                files=[("files", name, data) for name, data in files])

        status, page = upload("keep", ("a.txt", b"second"),
                              ("new.txt", b"fresh"))
        self.assertEqual(status, 200, page)
        self.assertIn("2 files stored in <code>docs/</code>: "
                      "<code>a (2).txt</code>, <code>new.txt</code>.", page)
        status, page = upload("keep", ("a.txt", b"third"))
        self.assertIn("<code>a (3).txt</code>", page)
        status, page = upload("replace", ("b.txt", b"replaced"))
        self.assertIn("1 file stored in <code>docs/</code>: "
                      "<code>b.txt</code>.", page)
        contents = {}
        for name in ("a.txt", "a (2).txt", "a (3).txt", "b.txt", "new.txt"):
            with open(os.path.join(self.docs, name), "rb") as stored:
                contents[name] = stored.read()
        self.assertEqual(contents, {"a.txt": b"alpha", "a (2).txt": b"second",
                                    "a (3).txt": b"third",
                                    "b.txt": b"replaced", "new.txt": b"fresh"})
        # Nothing is left of the staging, a folder is never replaced by a
        # file, and a link out is never written through.
        self.assertFalse([n for n in os.listdir(self.docs)
                          if n.startswith(".")])
        upload("replace", ("sub", b"file"), ("out.txt", b"not outside"))
        self.assertTrue(os.path.isdir(os.path.join(self.docs, "sub")))
        with open(os.path.join(self.outside, "secret.txt"), "rb") as kept:
            self.assertEqual(kept.read(), SECRET)
        self.assertTrue(os.path.exists(os.path.join(self.docs, "sub (2)")))
        status, page = upload("keep")
        self.assertIn("Nothing was stored in <code>docs/</code>", page)

    def test_a_failed_copy_says_why_and_keeps_the_form(self):
        status, page = self.post(action="copy", path="docs",
                                 **{"from": "docs"}, to="docs/sub",
                                 pattern="*.none")
        self.assertIn("Nothing was copied: no file in <code>docs/</code> "
                      "matches <code>*.none</code>.", page)
        self.assertIn('name="pattern" id="pattern" value="*.none"', page)
        self.assertIn('name="to" id="to" value="docs/sub"', page)

if __name__ == "__main__":
    unittest.main()

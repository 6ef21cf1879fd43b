# SPDX-License-Identifier: Apache-2.0
"""The module over the frame's dispatch: values converted both ways,
members named without regard to case, failures with their triple,
collections, the member tables in help() and dir(), and no growth of the
process over many create/use/release cycles."""

import ast
import decimal
import os
import pickle
import pydoc
import tempfile
import threading
import time
import unittest

import binding_support as binding

binding.use_test_registry()
import corvane  # noqa: E402  (the registry is chosen first)


def round_trip(value):
    """The value after going into a collection and coming back."""
    collection = corvane.Collection()
    collection.Add(value)
    return collection[0]


def rss_bytes():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    raise AssertionError("no VmRSS")


class ValuesTest(unittest.TestCase):
    def test_values_come_back_as_they_went(self):
        for value in (None, True, False, 0, -7, 2**31 - 1, -2**31, 1.5,
                      "", "text", "é ü 漢字", b"", b"\x00\xff\r\n",
                      decimal.Decimal("12.3456"), decimal.Decimal("-0.5")):
            with self.subTest(value=value):
                back = round_trip(value)
                self.assertEqual(back, value)
                self.assertIs(type(back), type(value))

    def test_wide_ints_travel_as_floats_and_bytes_likes_as_bytes(self):
        self.assertEqual(round_trip(2**40), float(2**40))
        self.assertEqual(round_trip(bytearray(b"ab")), b"ab")
        self.assertEqual(round_trip(memoryview(b"cd")), b"cd")
        for too_wide in (10**400, decimal.Decimal("Infinity"),
                         decimal.Decimal("NaN"), decimal.Decimal("1e30")):
            with self.subTest(value=too_wide):
                with self.assertRaises(corvane.Failure) as caught:
                    round_trip(too_wide)
                self.assertEqual(caught.exception.number, 6)

    def test_text_that_is_not_utf8_survives(self):
        test = corvane.create("Corvane.Test")
        raw = b"caf\xe9 \xff\x00"
        test.Name = raw  # bytes into a text property
        self.assertEqual(test.Name.encode("utf-8", "surrogateescape"), raw)
        test.Name = test.Name
        self.assertEqual(test.Name.encode("utf-8", "surrogateescape"), raw)
        self.assertEqual(test.Echo("abc"), b"abc")

    def test_a_value_without_a_component_form_is_refused(self):
        with self.assertRaises(corvane.Failure) as caught:
            round_trip(object())
        self.assertEqual(caught.exception.number, 13)
        self.assertIn("object", caught.exception.description)

    def test_coercions_and_ranges_of_the_member_are_kept(self):
        test = corvane.create("Corvane.Test")
        test.Small = "123"
        self.assertEqual(test.Small, 123)
        test.Small = 2.5  # half to even
        self.assertEqual(test.Small, 2)
        with self.assertRaises(corvane.Failure) as caught:
            test.Small = 40000
        self.assertEqual(caught.exception.number, 6)
        self.assertEqual(test.Small, 2)

    def test_by_reference_arguments_are_written_back(self):
        test = corvane.create("Corvane.Test")
        ref = corvane.ByRef(21)
        self.assertEqual(test.Twice(ref), 21)
        self.assertEqual(ref.value, 42)
        self.assertEqual(test.Twice(5), 5)  # a plain value is copied

    def test_lists_are_spread_into_parameter_arrays(self):
        # The list reaches the member as separate arguments: a collection's
        # Add takes (item, key). (Cargane's FileExtensionList, a parameter
        # array, is taken from a list in test_wsgi_page.)
        collection = corvane.Collection()
        collection.Add(["one", "k"])
        self.assertEqual(collection["K"], "one")


class NamesTest(unittest.TestCase):
    def test_members_are_found_without_regard_to_case(self):
        test = corvane.create("corvane.TEST")
        test.name = "a"
        self.assertEqual(test.NAME, "a")
        self.assertEqual(test.nAmE, "a")
        ref = corvane.ByRef(2)
        test.TWICE(ref)
        self.assertEqual(ref.value, 4)
        mail = corvane.create("Corvane.SMTP")
        mail.timeout = 17
        self.assertEqual(mail.TimeOut, 17)

    def test_an_unknown_member_is_an_attribute_error_and_a_failure(self):
        test = corvane.create("Corvane.Test")
        self.assertFalse(hasattr(test, "Nothing"))
        self.assertEqual(getattr(test, "Nothing", "default"), "default")
        with self.assertRaises(corvane.NoSuchMember) as caught:
            test.Nothing = 1
        self.assertIsInstance(caught.exception, AttributeError)
        self.assertIsInstance(caught.exception, corvane.Failure)
        self.assertEqual(caught.exception.number, 438)
        self.assertEqual(caught.exception.source, "Corvane")
        self.assertIn("Nothing", caught.exception.description)

    def test_help_and_dir_list_the_member_table(self):
        mail = corvane.create("Corvane.SMTP")
        self.assertEqual(type(mail).__name__, "SMTP")
        self.assertIs(type(mail), type(corvane.create("Corvane.SMTP")))
        for name in ("MailTo", "SendMail", "GetLastErrNum", "OnStartPage"):
            self.assertIn(name, dir(mail))
        text = pydoc.render_doc(mail, renderer=pydoc.plaintext)
        self.assertIn("SendMail", text)
        self.assertIn("Timeout: property, read and write", text)
        self.assertIn("MailSubject: property, write only", text)
        self.assertIn(("SendMail", "method"), mail._members)
        # The stubs made at build time from the same tables.
        stubs = os.path.join(os.path.dirname(corvane.__file__),
                             "corvane.pyi")
        with open(stubs) as source:
            tree = ast.parse(source.read())
        classes = {node.name: node for node in tree.body
                   if isinstance(node, ast.ClassDef)}
        members = {getattr(node, "name", None) or
                   getattr(getattr(node, "target", None), "id", None)
                   for node in classes["SMTP"].body}
        self.assertLessEqual({"SendMail", "MailTo", "GetLastErrNum"},
                             members)
        # dir() of a page, whose class is no member table's own.
        page = corvane.WsgiPage({})
        self.assertIn("Request", dir(page))


class FailuresTest(unittest.TestCase):
    def test_a_member_failure_carries_its_triple(self):
        test = corvane.create("Corvane.Test")
        with self.assertRaises(corvane.Failure) as caught:
            test.Raise(-2147221503, "it broke")
        failure = caught.exception
        self.assertEqual((failure.number, failure.source,
                          failure.description),
                         (-2147221503, "Corvane.Test", "it broke"))
        self.assertIn("it broke", str(failure))

    def test_a_failure_the_system_reported_keeps_the_system_text(self):
        # A registry that is a directory cannot be read: EISDIR.
        folder = tempfile.mkdtemp(prefix="corvane-python-")
        self.addCleanup(os.rmdir, folder)
        saved = os.environ["CORVANE_REGISTRY"]
        os.environ["CORVANE_REGISTRY"] = folder
        try:
            with self.assertRaises(corvane.Failure) as caught:
                corvane.classes()
        finally:
            os.environ["CORVANE_REGISTRY"] = saved
        failure = caught.exception
        self.assertEqual((failure.number, failure.source, failure.system_text),
                         (75, "Corvane", "Is a directory"))
        self.assertNotIn("Is a directory", failure.description)
        copy = pickle.loads(pickle.dumps(failure))
        self.assertEqual(copy.system_text, "Is a directory")
        # A component's own failure has no system text.
        test = corvane.create("Corvane.Test")
        with self.assertRaises(corvane.Failure) as caught:
            test.Raise(-2147221503, "it broke")
        self.assertEqual(caught.exception.system_text, "")

    def test_frame_failures_name_the_suite(self):
        with self.assertRaises(corvane.Failure) as caught:
            corvane.create("Corvane.NoSuchThing")
        self.assertEqual(caught.exception.number, 429)
        self.assertEqual(caught.exception.source, "Corvane")
        test = corvane.create("Corvane.Test")
        with self.assertRaises(corvane.Failure) as caught:
            test.Raise(1)  # a required argument left out
        self.assertEqual(caught.exception.number, 450)

    def test_a_component_that_reports_in_its_triple_does_not_raise(self):
        mail = corvane.create("Corvane.SMTP")
        mail.SMTP = "127.0.0.1:1"
        mail.MailFrom = "a@localhost"
        mail.MailTo = "b@localhost"
        self.assertFalse(mail.SendMail())
        self.assertNotEqual(mail.GetLastErrNum, 0)
        self.assertTrue(mail.GetLastErrDescription)


class ThreadsTest(unittest.TestCase):
    def test_other_threads_run_while_a_component_waits(self):
        from support.whois_server import WhoisServer
        with WhoisServer(mode="silent") as server:
            whois = corvane.create("Corvane.WhoisQuery")
            whois.WhoisServer = server.address
            whois.Timeout = 20
            answers = []
            worker = threading.Thread(
                target=lambda: answers.append(whois.SendQuery("widget.zz")))
            worker.start()
            # Python code runs here while the query waits for its answer:
            # the call holds no lock of the interpreter's.
            while not server.queries:
                time.sleep(0.01)
            other = corvane.create("Corvane.Test")
            other.Name = "meanwhile"
            self.assertTrue(worker.is_alive())
            server.stop()  # the server closes: the query ends
            worker.join(60)
        self.assertEqual(len(answers), 1)
        self.assertEqual(other.Name, "meanwhile")


class CollectionsTest(unittest.TestCase):
    def test_a_components_collection_is_iterable_and_indexable(self):
        test = corvane.create("Corvane.Test")
        test.AddItem("first", 1)
        test.AddItem("Second", "two")
        items = test.Items
        self.assertIsInstance(items, corvane.Collection)
        self.assertEqual(len(items), 2)
        self.assertEqual(list(items), [1, "two"])
        self.assertEqual((items[0], items[-1]), (1, "two"))
        self.assertEqual(items["SECOND"], "two")
        self.assertEqual(items.Item(1), 1)  # the member counts from 1
        self.assertEqual(items.Count, 2)
        with self.assertRaises(IndexError):
            items[2]
        with self.assertRaises(KeyError):
            items["third"]
        self.assertEqual(items, test.Items)  # the same object

    def test_a_duplicate_key_is_failure_457(self):
        test = corvane.create("Corvane.Test")
        test.AddItem("k", 1)
        with self.assertRaises(corvane.Failure) as caught:
            test.AddItem("K", 2)
        self.assertEqual(caught.exception.number, 457)


class ReleaseTest(unittest.TestCase):
    CYCLES = 100_000

    def cycle(self):
        page = corvane.WsgiPage({"QUERY_STRING": "a=1"})
        test = page.create("Corvane.Test")
        test.Name = "some text to hold"
        test.AddItem("k", b"\x00" * 64)
        test.Say("written")
        assert len(test.Items) == 1
        page.end()

    def test_objects_are_freed_when_released(self):
        for _ in range(5_000):  # the allocator's caches fill first
            self.cycle()
        before = rss_bytes()
        for _ in range(self.CYCLES):
            self.cycle()
        growth = rss_bytes() - before
        print(f"\nRSS growth over {self.CYCLES} cycles: {growth} bytes")
        self.assertLess(growth, 2 * 1024 * 1024)

    def test_a_long_page_holds_only_the_objects_alive(self):
        page = corvane.WsgiPage({})
        for _ in range(5_000):
            page.create("Corvane.Test").Name = "x"
        before = rss_bytes()
        for _ in range(self.CYCLES):
            page.create("Corvane.Test").Name = "x"
        growth = rss_bytes() - before
        page.end()
        self.assertLess(growth, 1024 * 1024)


if __name__ == "__main__":
    unittest.main()

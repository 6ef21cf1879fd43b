# SPDX-License-Identifier: Apache-2.0
"""`corvane run` drives the test component by ProgID through every step kind;
the real program's JSON lines are compared whole."""

import base64
import json
import os
import subprocess
import tempfile
import unittest

from support.programs import program


class CorvaneRunTest(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.env = dict(os.environ,
                        CORVANE_REGISTRY=os.path.join(self.directory.name,
                                                      "registry"))
        subprocess.run([program("corvane"), "register",
                        program("libcorvanetest.so")],
                       env=self.env, check=True)

    def tearDown(self):
        self.directory.cleanup()

    def run_script(self, lines):
        script = "\n".join(
            line if isinstance(line, str) else json.dumps(line)
            for line in lines) + "\n"
        return subprocess.run([program("corvane"), "run", "-"], input=script,
                              env=self.env, capture_output=True, text=True)

    def answers(self, lines):
        result = self.run_script(lines)
        self.assertEqual(result.returncode, 0, result.stderr)
        return [json.loads(line) for line in result.stdout.splitlines()]

    def test_every_step_kind(self):
        body_file = os.path.join(self.directory.name, "body")
        with open(body_file, "wb") as out:
            out.write(b"from a file")
        script = [
            "# a comment, then a blank line",
            "",
            {"create": "corvane.TEST", "as": "t"},
            {"page": "p", "request": {"body_file": body_file,
                                      "content_type": "text/plain",
                                      "query": "a=1",
                                      "server_variables": {"X_ONE": "1"}}},
            {"put": "Name", "on": "t", "value": "héllo"},
            {"get": "NAME", "on": "t"},
            {"put": "Small", "on": "t", "value": 40000},
            {"put": "Small", "on": "t", "value": "-12"},
            {"get": "Small", "on": "t"},
            {"call": "Twice", "on": "t", "args": [21]},
            {"call": "AddItem", "on": "t", "args": ["k1", "one"]},
            {"call": "AddItem", "on": "t", "args": ["K1", "again"]},
            {"call": "AddItem", "on": "t", "args": ["k2", True]},
            {"get": "Items", "on": "t", "as": "items"},
            {"items": "items"},
            {"get": "Item", "on": "items", "args": ["K2"]},
            {"call": "Raise", "on": "t", "args": [-2147221503, "no way"]},
            {"call": "OnStartPage", "on": "t", "args": [{"ref": "p"}]},
            {"call": "Say", "on": "t", "args": ["one"]},
            {"call": "Say", "on": "t", "args": ["two"]},
            {"output": "p"},
            {"get": "Request", "on": "p", "as": "request"},
            {"get": "TotalBytes", "on": "request"},
            {"call": "BinaryRead", "on": "request", "args": [100]},
            {"get": "ServerVariables", "on": "request", "args": ["x_one"]},
            {"call": "Echo", "on": "t", "args": [{"bytes_base64": "AP8="}]},
            {"put": "Name", "on": "t", "value": {"text_base64": "/w=="}},
            {"get": "Name", "on": "t"},
            {"call": "NoSuchMember", "on": "t"},
            {"release": "t"},
            {"get": "Name", "on": "t"},
        ]
        answers = self.answers(script)
        ok = {"ok": True}
        self.assertEqual(answers, [
            ok, ok, ok,
            {"value": "héllo"},
            {"error": {"number": 6, "source": "Corvane",
                       "description": "Overflow"}},
            ok,
            {"value": -12},
            {"value": 21, "byref": [42]},
            {"value": None, "byref": ["k1", "one"]},
            {"error": {"number": 457, "source": "Corvane",
                       "description": "This key is already associated with "
                                      "an element of this collection"}},
            {"value": None, "byref": ["k2", True]},
            {"value": {"object": "Collection"}},
            {"value": ["one", True]},
            {"value": True},
            {"error": {"number": -2147221503, "source": "Corvane.Test",
                       "description": "no way"}},
            {"value": None, "byref": [{"object": "ScriptingContext"}]},
            {"value": None, "byref": ["one"]},
            {"value": None, "byref": ["two"]},
            {"value": "one<br>two<br>"},
            {"value": {"object": "Request"}},
            {"value": 11},
            {"value": {"bytes_base64":
                       base64.b64encode(b"from a file").decode()},
             "byref": [11]},
            {"value": "1"},
            {"value": {"bytes_base64": "AP8="},
             "byref": [{"bytes_base64": "AP8="}]},
            ok,
            {"value": {"text_base64": "/w=="}},
            {"error": {"number": 438, "source": "Corvane",
                       "description":
                           "Object doesn't support this property or method"}},
            ok,
            {"error": {"number": 424, "source": "Corvane",
                       "description": "Object required: nothing is held "
                                      "as 't'"}},
        ])

    def test_items_with_fields_read_each_member(self):
        answers = self.answers([
            {"create": "Corvane.Test", "as": "holder"},
            {"create": "Corvane.Test", "as": "a"},
            {"create": "Corvane.Test", "as": "b"},
            {"put": "Name", "on": "a", "value": "first"},
            {"put": "Name", "on": "b", "value": "second"},
            {"call": "AddItem", "on": "holder", "args": ["x", {"ref": "a"}]},
            {"call": "AddItem", "on": "holder", "args": ["y", {"ref": "b"}]},
            {"get": "Items", "on": "holder", "as": "list"},
            {"items": "list", "fields": ["Name", "Small"]},
        ])
        self.assertEqual(answers[-1], {"value": [
            {"Name": "first", "Small": 0}, {"Name": "second", "Small": 0}]})

    def test_unknown_progid_is_a_step_failure(self):
        answers = self.answers([{"create": "Corvane.Nothing", "as": "x"}])
        self.assertEqual(answers[0]["error"]["number"], 429)

    def test_malformed_line_stops_with_status_2_naming_the_line(self):
        for bad in ['{"create": "Corvane.Test"}', "not json", '{"jump": 1}',
                    '{"call": "Twice", "on": "t", "args": 5}']:
            result = self.run_script([{"create": "Corvane.Test", "as": "t"},
                                      "# comment", bad,
                                      {"get": "Name", "on": "t"}])
            self.assertEqual(result.returncode, 2, bad)
            self.assertIn("line 3", result.stderr)
            self.assertEqual(result.stdout, '{"ok":true}\n')

    def test_deep_nesting_is_a_malformed_line(self):
        deep = 70000
        for bad in ["[" * deep + "]" * deep,
                    '{"x": ' + "[" * deep + "]" * deep + "}",
                    '{"put": "Name", "on": "t", "value": '
                    + '{"a":' * deep + "1" + "}" * deep + "}"]:
            result = self.run_script([{"create": "Corvane.Test", "as": "t"},
                                      bad])
            self.assertEqual(result.returncode, 2, result.stderr[-200:])
            self.assertIn("line 2", result.stderr)
            self.assertIn("nesting deeper than", result.stderr)
        # Nesting that any step needs stays well within the limit.
        nested = {"put": "Name", "on": "t",
                  "value": {"text_base64": "aGk="}}
        self.assertEqual(self.answers([{"create": "Corvane.Test", "as": "t"},
                                       nested])[1], {"ok": True})

    def test_classes_lists_the_registered_progid(self):
        listing = subprocess.run([program("corvane"), "classes"],
                                 env=self.env, capture_output=True, text=True,
                                 check=True).stdout
        self.assertIn("Corvane.Test\t", listing)
        subprocess.run([program("corvane"), "unregister",
                        program("libcorvanetest.so")], env=self.env,
                       check=True)
        listing = subprocess.run([program("corvane"), "classes"],
                                 env=self.env, capture_output=True, text=True,
                                 check=True).stdout
        self.assertNotIn("Corvane.Test", listing)


if __name__ == "__main__":
    unittest.main()

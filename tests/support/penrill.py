# SPDX-License-Identifier: Apache-2.0
"""Drives Corvane.SMTP through `corvane run`: one object, optionally bound
to a page, settings put in order, then any number of SendMail calls, each
followed by the last-error triple and the page text so far."""

import os
import tempfile

from support.page_script import run_page_script


class SendResult:
    def __init__(self, answers):
        self.sent, self.number, self.source, self.description = answers[:4]
        self.page = answers[4] if len(answers) > 4 else None

    def __repr__(self):
        return "SendResult(%r, %r, %r, %r, page=%r)" % (
            self.sent, self.number, self.source, self.description, self.page)


def send_steps(with_page=True):
    steps = [{"call": "SendMail", "on": "m"},
             {"get": "GetLastErrNum", "on": "m"},
             {"get": "GetLastErrSource", "on": "m"},
             {"get": "GetLastErrDescription", "on": "m"}]
    if with_page:
        steps.append({"output": "p"})
    return steps


def send_mail(settings, sends=1, with_page=True, log_dir=None,
              between=None, env=None):
    """Puts `settings` (member, value) pairs, then calls SendMail `sends`
    times, putting the pairs of `between` before each later call. Returns a
    list of SendResult."""
    steps = [{"create": "Corvane.SMTP", "as": "m"}]
    if with_page:
        steps += [{"page": "p"},
                  {"call": "OnStartPage", "on": "m", "args": [{"ref": "p"}]}]
    put = lambda pairs: [{"put": name, "on": "m", "value": value}
                         for name, value in pairs]
    steps += put(settings)
    positions = []
    for index in range(sends):
        if index and between:
            steps += put(between)
        positions.append(len(steps))
        steps += send_steps(with_page)
    if with_page:
        steps.append({"call": "OnEndPage", "on": "m"})
    steps.append({"release": "m"})
    environment = dict(env or os.environ)
    scratch = None
    if log_dir is None:
        scratch = tempfile.TemporaryDirectory()
        log_dir = scratch.name
    environment["CORVANE_LOG_DIR"] = log_dir
    try:
        answers, result = run_page_script(steps, env=environment)
    finally:
        if scratch:
            scratch.cleanup()
    if result.returncode != 0:
        raise AssertionError("corvane run failed (%d): %s" %
                             (result.returncode, result.stderr))
    errors = [a for a in answers if "error" in a]
    if errors or len(answers) != len(steps):
        raise AssertionError("steps failed: %r %s" % (errors, result.stderr))
    per_send = len(send_steps(with_page))
    return [SendResult([a["value"] for a in answers[at:at + per_send]])
            for at in positions]

# SPDX-License-Identifier: Apache-2.0
"""Runs page scripts through `corvane run` and reads the answers."""

import json
import subprocess

from support.programs import program


def run_page_script(steps, env=None, timeout=120):
    """Runs the steps (dicts) and returns (answers, completed process)."""
    script = "\n".join(json.dumps(step) for step in steps) + "\n"
    result = subprocess.run([program("corvane"), "run", "-"], input=script,
                            env=env, capture_output=True, text=True,
                            timeout=timeout)
    answers = [json.loads(line) for line in result.stdout.splitlines()]
    return answers, result

# SPDX-License-Identifier: Apache-2.0
"""Paths of the built programs, from CORVANE_BIN (set by ctest)."""

import os

BIN = os.environ.get("CORVANE_BIN") or os.path.join(
    os.path.dirname(__file__), "..", "..", "build", "default", "bin")


def program(name):
    return os.path.join(os.path.abspath(BIN), name)

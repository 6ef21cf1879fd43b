#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""Writes the gateway benchmark bodies into a directory (NAME.body, and
NAME.type with its content type), with the upload benchmark's part layout:
  one_file      one file of 1 GiB
  one_file_64m  one file of 64 MiB (peak memory only)
  text_fields   20,000 small text fields
  small_files   2,000 files of 4 KiB"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "upload"))
from make_bodies import file_part, write, write_many_parts  # noqa: E402

MiB = 1024 * 1024


def big_file(size):
    """A file part streamed in pieces, so the body is never held whole."""
    block = os.urandom(MiB)
    yield file_part("upload", "big.bin", b"")[:-2]
    for _ in range(size // MiB):
        yield block
    yield b"\r\n"


def main(directory):
    os.makedirs(directory, exist_ok=True)
    write(directory, "one_file", big_file(1024 * MiB))
    write(directory, "one_file_64m", big_file(64 * MiB))
    write_many_parts(directory)


if __name__ == "__main__":
    main(sys.argv[1])

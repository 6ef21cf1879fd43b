#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""Writes the three benchmark bodies into a directory: NAME.body holds the
multipart/form-data body, NAME.type its content type.
  one_file      one file of 256 MiB
  text_fields   20,000 small text fields
  small_files   2,000 files of 4 KiB"""

import os
import sys

BOUNDARY = "----CorvaneBenchBoundary7MA4YWxkTrZu0gW"


def file_part(field, filename, data):
    return (f"--{BOUNDARY}\r\nContent-Disposition: form-data; "
            f'name="{field}"; filename="{filename}"\r\n'
            f"Content-Type: application/octet-stream\r\n\r\n"
            ).encode() + data + b"\r\n"


def text_part(field, value):
    return (f"--{BOUNDARY}\r\nContent-Disposition: form-data; "
            f'name="{field}"\r\n\r\n{value}\r\n').encode()


def write(directory, name, parts):
    with open(os.path.join(directory, name + ".body"), "wb") as out:
        for part in parts:
            out.write(part)
        out.write(f"--{BOUNDARY}--\r\n".encode())
    with open(os.path.join(directory, name + ".type"), "w") as out:
        out.write(f"multipart/form-data; boundary={BOUNDARY}")


def write_many_parts(directory):
    """The bodies of many small parts: text_fields and small_files."""
    write(directory, "text_fields",
          (text_part(f"field{i:05d}", f"value {i:05d} " + "x" * 50)
           for i in range(20000)))
    write(directory, "small_files",
          (file_part(f"file{i:04d}", f"file{i:04d}.bin", os.urandom(4096))
           for i in range(2000)))


def main(directory):
    os.makedirs(directory, exist_ok=True)
    write(directory, "one_file",
          [file_part("upload", "big.bin", os.urandom(256 * 1024 * 1024))])
    write_many_parts(directory)


if __name__ == "__main__":
    main(sys.argv[1])

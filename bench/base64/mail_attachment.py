# SPDX-License-Identifier: Apache-2.0
"""`corvane mail` with a 64 MiB attachment, beside coreutils' `base64` of
the same file in the same run: CPU per MiB of attachment and peak memory
against the encoded size. The mail goes to a minimal SMTP sink in this
process (it keeps no message), so the figures are the client's alone.
Usage: mail_attachment.py BIN [ROUNDS]"""

import os
import socket
import statistics
import subprocess
import sys
import tempfile
import threading

SIZE = 64 << 20
MIB = 1 << 20


def encoded_length(count):
    return 4 * ((count + 2) // 3) + 2 * ((count - 1) // 54)


def serve(connection):
    with connection:
        stream = connection.makefile("rb")
        connection.sendall(b"220 sink\r\n")
        while True:
            line = stream.readline()
            if not line:
                return
            verb = line[:4].upper()
            if verb == b"EHLO":
                connection.sendall(b"250-sink\r\n250 8BITMIME\r\n")
            elif verb == b"DATA":
                connection.sendall(b"354 go on\r\n")
                tail = b""
                while not tail.endswith(b"\r\n.\r\n"):
                    piece = stream.read1(1 << 20)
                    if not piece:
                        return
                    tail = (tail + piece)[-5:]
                connection.sendall(b"250 kept nothing\r\n")
            elif verb == b"QUIT":
                connection.sendall(b"221 bye\r\n")
                return
            else:
                connection.sendall(b"250 OK\r\n")


def sink():
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen()

    def accept():
        while True:
            connection, _ = listener.accept()
            threading.Thread(target=serve, args=(connection,),
                             daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    return listener.getsockname()[1]


def measure(argv):
    """CPU seconds (user + system) and peak resident bytes of one run."""
    with open(os.devnull, "wb") as null:
        process = subprocess.Popen(argv, stdout=null)
        _, status, usage = os.wait4(process.pid, 0)
    if status != 0:
        sys.exit(f"{argv[0]} failed: status {status}")
    return usage.ru_utime + usage.ru_stime, usage.ru_maxrss * 1024


def main():
    bin_dir = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    port = sink()
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "attachment.bin")
        # Written by another process: a child's peak memory counts the
        # parent's high-water mark at the fork, so this one stays small.
        with open(path, "wb") as file:
            subprocess.run(["head", "-c", str(SIZE), "/dev/urandom"],
                           stdout=file, check=True)
        mail = [os.path.join(bin_dir, "corvane"), "mail",
                "--server", f"127.0.0.1:{port}", "--from", "bench@example.org",
                "--to", "someone@example.org", "--subject", "64 MiB",
                "--body", "See the attachment.", "--attach", path]
        anchor = ["base64", path]
        ours, theirs, peaks = [], [], []
        for _ in range(rounds):
            cpu, peak = measure(mail)
            ours.append(cpu)
            peaks.append(peak)
            theirs.append(measure(anchor)[0])
    encoded = encoded_length(SIZE)
    mib = SIZE / MIB
    ours_ms = statistics.median(ours) * 1000 / mib
    theirs_ms = statistics.median(theirs) * 1000 / mib
    peak = statistics.median(peaks)
    print(f"corvane mail, 64 MiB attachment, medians of {rounds}:")
    print(f"  CPU {ours_ms:.2f} ms per MiB (target: at most 3); "
          f"coreutils base64 of the same file {theirs_ms:.2f} ms per MiB")
    print(f"  peak memory {peak / MIB:.1f} MiB = {peak / encoded:.2f} x the "
          f"encoded size {encoded / MIB:.1f} MiB (target: at most 1.5)")


if __name__ == "__main__":
    main()

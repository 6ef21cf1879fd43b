# SPDX-License-Identifier: Apache-2.0
"""Messages per second that Python's smtplib sends to the same server: the
same 1 KiB body and headers, one connection per message for SECONDS
(with "reuse" as the third argument, the second is a number of messages,
all sent over one connection); with a CA file,
over STARTTLS with AUTH (one TLS context for the run, as SendMail keeps
one). Prints the rate and the client's CPU microseconds per message."""

import smtplib
import ssl
import sys
import time

from email.message import EmailMessage


def message():
    mail = EmailMessage()
    mail["From"] = "Bench Sender <bench@example.org>"
    mail["To"] = "Reader <reader@example.org>"
    mail["Subject"] = "Benchmark message"
    mail.set_content(("b" * 62 + "\r\n") * 16)
    return mail


def main():
    host, port = sys.argv[1].rsplit(":", 1)
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 3.0
    context = None
    reuse = len(sys.argv) > 3 and sys.argv[3] == "reuse"
    if len(sys.argv) > 3 and not reuse:
        context = ssl.create_default_context(cafile=sys.argv[3])
    mail = message()
    sent = 0
    cpu = time.process_time()
    start = time.perf_counter()
    if reuse:
        with smtplib.SMTP(host, int(port)) as client:
            while sent < seconds:
                client.send_message(mail)
                sent += 1
    while not reuse and time.perf_counter() - start < seconds:
        with smtplib.SMTP(host, int(port)) as client:
            if context:
                client.starttls(context=context)
                client.login("bench", "bench")
            client.send_message(mail)
        sent += 1
    elapsed = time.perf_counter() - start
    cpu = time.process_time() - cpu
    print("%.1f %.1f" % (sent / elapsed, cpu * 1e6 / sent))


if __name__ == "__main__":
    main()

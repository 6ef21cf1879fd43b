"""Messages per second that Python's smtplib sends to the same server: the
same 1 KiB body and headers, one connection per message."""

import smtplib
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
    mail = message()
    sent = 0
    start = time.perf_counter()
    while time.perf_counter() - start < seconds:
        with smtplib.SMTP(host, int(port)) as client:
            client.send_message(mail)
        sent += 1
    elapsed = time.perf_counter() - start
    print("%.1f" % (sent / elapsed))


if __name__ == "__main__":
    main()

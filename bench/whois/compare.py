#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""Times Namewell's RDAP answer reading (bench_whois) against Python's
json.loads followed by the same extraction (names, contacts by role from
their jCards, events, name servers, statuses, the related link, redacted
names) on the same answers of 4 KiB, 30 KiB and 8 MiB, in CPU time, and
prints the medians and the ratio. Usage: compare.py BIN

Each case runs $WHOIS_BENCH_RUNS times (default 5); the C++ side is
Google Benchmark's CPU time per answer, the Python side time.process_time
per answer over enough repetitions to fill about 0.5 s."""

import json
import os
import statistics
import subprocess
import sys
import time

RUNS = int(os.environ.get("WHOIS_BENCH_RUNS", "5"))
SIZES = [4 << 10, 30 << 10, 8 << 20]
CONTACT = ('{"roles":["administrative"],"vcardArray":["vcard",['
           '["fn",{},"text","Kim Roe"],["adr",{},"text",["","",'
           '["1 Main Street","Suite 4"],"Springfield","XX","00000","ZZ"]],'
           '["email",{},"text","kim@widget.zz"]]]}')
PLACEHOLDERS = ("redacted for privacy",)
ROLES = {"registrant": False, "administrative": True, "technical": True,
         "billing": True}


def rdap_answer(size):
    """The answer bench_whois builds for `size` (RdapAnswer there)."""
    answer = ('{"objectClassName":"domain","ldhName":"WIDGET.ZZ",'
              '"entities":[' + CONTACT)
    servers = []
    servers_size = 0
    i = 0
    while len(answer) + servers_size < size:
        if i % 4 == 0:
            answer += "," + CONTACT
        else:
            server = '{"ldhName":"NS%d.WIDGET.ZZ"},' % i
            servers.append(server)
            servers_size += len(server)
        i += 1
    return (answer + '],"nameservers":[' + "".join(servers) +
            '{"ldhName":"NS.WIDGET.ZZ"}],"status":["active"]}')


def texts(value, lines):
    if isinstance(value, str):
        if value.strip() and value.lower() not in PLACEHOLDERS:
            lines.append(value)
    elif isinstance(value, list):
        for item in value:
            if isinstance(item, str):
                texts(item, lines)


def card_lines(entity, names):
    card = entity.get("vcardArray")
    if not isinstance(card, list) or len(card) < 2:
        return []
    lines = []
    for name in names:
        for prop in card[1]:
            if (isinstance(prop, list) and len(prop) >= 4 and
                    isinstance(prop[0], str) and prop[0].lower() == name):
                if name == "adr" and isinstance(prop[3], list):
                    for part in prop[3]:
                        texts(part, lines)
                else:
                    for part in prop[3:]:
                        texts(part, lines)
    return lines


def extract(text):
    """json.loads and the fields Namewell reads."""
    doc = json.loads(text)
    record = {"domain_name": doc.get("ldhName", "")}
    pending = list(doc.get("entities", []))
    index = 0
    while index < len(pending) and index < 10000:
        entity = pending[index]
        index += 1
        for role in entity.get("roles", []):
            role = role.lower()
            if role in ROLES and role not in record:
                names = ["fn", "org", "adr"]
                if ROLES[role]:
                    names += ["tel", "email"]
                record[role] = "\n".join(card_lines(entity, names))
        pending.extend(entity.get("entities", []))
    for event in doc.get("events", []):
        record.setdefault(event.get("eventAction", "").lower(),
                          event.get("eventDate"))
    record["servers"] = "\n".join(s["ldhName"]
                                  for s in doc.get("nameservers", [])
                                  if s.get("ldhName"))
    status = []
    texts(doc.get("status", []), status)
    record["status"] = "\n".join(status)
    for link in doc.get("links", []):
        if link.get("rel") == "related":
            record["related"] = link.get("href")
    record["redacted"] = [r["name"].get("type") for r in
                          doc.get("redacted", [])]
    return record


def python_seconds(text):
    repeats = 1
    while True:
        start = time.process_time()
        for _ in range(repeats):
            extract(text)
        spent = time.process_time() - start
        if spent > 0.5:
            return spent / repeats
        repeats *= 2


def namewell_seconds(bin_dir):
    out = subprocess.run(
        [os.path.join(bin_dir, "bench_whois"),
         "--benchmark_filter=BM_ReadRdapAnswer/(4096|30720|8388608)$",
         "--benchmark_format=json", "--benchmark_min_time=0.5"],
        capture_output=True, text=True, check=True)
    found = {}
    for row in json.loads(out.stdout)["benchmarks"]:
        size = int(row["name"].split("/")[1])
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3}[row["time_unit"]]
        found[size] = (row["cpu_time"] * scale, int(row["answer_bytes"]))
    return found


def main():
    bin_dir = sys.argv[1]
    answers = {size: rdap_answer(size) for size in SIZES}
    ours = {size: [] for size in SIZES}
    theirs = {size: [] for size in SIZES}
    for _ in range(RUNS):  # interleaved, so both see the same machine
        for size, (seconds, length) in namewell_seconds(bin_dir).items():
            if length != len(answers[size]):
                sys.exit("answer sizes differ: %d against %d" %
                         (length, len(answers[size])))
            ours[size].append(seconds)
        for size in SIZES:
            theirs[size].append(python_seconds(answers[size]))
    print("RDAP answer reading, CPU time per answer, medians of %d runs" %
          RUNS)
    print("%10s %14s %14s %12s %8s" % ("answer", "Namewell", "Python",
                                        "Namewell", "ratio"))
    for size in SIZES:
        mine = statistics.median(ours[size])
        python = statistics.median(theirs[size])
        print("%10s %12.1f us %12.1f us %8.0f MB/s %7.1fx" % (
            "%d KiB" % (size >> 10), mine * 1e6, python * 1e6,
            size / mine / 1e6, python / mine))


if __name__ == "__main__":
    main()

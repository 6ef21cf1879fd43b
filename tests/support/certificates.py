# SPDX-License-Identifier: Apache-2.0
"""Certificates the mail tests make for themselves with `openssl req`: a
self-signed server certificate for chosen names, in a temporary folder."""

import os
import subprocess


def make_certificate(folder, common_name="localhost",
                     names=("DNS:localhost", "IP:127.0.0.1"), stem="server"):
    """Writes STEM.pem (certificate) and STEM.key (key) into `folder` and
    returns their paths. `names` become the subject alternative names."""
    certificate = os.path.join(folder, stem + ".pem")
    key = os.path.join(folder, stem + ".key")
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
         "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2",
         "-subj", "/CN=" + common_name,
         "-addext", "subjectAltName=" + ",".join(names),
         "-keyout", key, "-out", certificate],
        check=True, capture_output=True)
    return certificate, key


def server_context(certificate, key):
    import ssl
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(certificate, key)
    return context

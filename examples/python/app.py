# SPDX-License-Identifier: Apache-2.0
"""Corvane's components in a Flask application: an upload page (Cargane,
with a disk quota and a list of allowed extensions), a mail form (Penrill)
and a whois lookup (Namewell).

    PYTHONPATH=build/default/python /usr/bin/python3 examples/python/app.py

serves it on http://127.0.0.1:5000/ (see --help for the mail and whois
servers, the upload folder, the quota and the extensions)."""

import argparse
import html
import os
import tempfile

from flask import Flask, request

import corvane

# What Cargane's upload() answers, for the page.
UPLOAD_RESULTS = {
    1: "Stored.",
    -4: "Over the disk quota or the size limit: nothing more was stored.",
    -5: "The upload folder could not be created.",
    -6: "A file's extension is not allowed: it was not stored.",
    -7: "The upload failed.",
    -8: "The upload folder cannot be written.",
    -9: "The request is not a multipart form.",
}

# The whois fields shown for a domain, by their members' names.
WHOIS_FIELDS = ("GetDomainName", "GetRegistrant", "GetRegistrar",
                "GetRecordCreateTime", "GetExpiryTime", "GetDomainServers",
                "GetAdministrativeEmail", "GetTechnicalEmail")

PAGE = """<!doctype html>
<html lang="en"><head><meta charset="utf-8">
<title>{title} - Corvane from Flask</title></head>
<body><nav><a href="/">Upload</a> | <a href="/mail">Mail</a> |
<a href="/whois">Whois</a></nav><main><h1>{title}</h1>{body}</main></body>
</html>"""


def page(title, body, status=200):
    return PAGE.format(title=html.escape(title), body=body), status


def create_app(upload_dir, quota=10 * 1024 * 1024,
               extensions=("txt", "pdf", "png", "jpg", "gif"),
               smtp_server="127.0.0.1:25", whois_server="",
               mail_from="flask@localhost"):
    """The application; `quota` is the most bytes the upload folder may
    hold, `extensions` the file extensions it takes."""
    app = Flask(__name__)
    app.config.update(UPLOAD_DIR=upload_dir, QUOTA=quota,
                      EXTENSIONS=list(extensions), SMTP_SERVER=smtp_server,
                      WHOIS_SERVER=whois_server, MAIL_FROM=mail_from)

    @app.get("/")
    def upload_form():
        allowed = ", ".join(app.config["EXTENSIONS"])
        return page("Upload", f"""
<form method="post" action="/upload" enctype="multipart/form-data">
<p><label>Files <input type="file" name="files" multiple></label></p>
<p><label>Note <input type="text" name="note"></label></p>
<p>Allowed: {html.escape(allowed)}; the folder holds at most
{app.config["QUOTA"]} bytes.</p>
<p><button>Upload</button></p></form>""")

    @app.post("/upload")
    def upload():
        # Cargane reads the body itself, from wsgi.input: nothing here may
        # touch request.form or request.files first.
        with corvane.WsgiPage(request.environ) as wsgi_page:
            cargane = wsgi_page.create("Corvane.upload")
            cargane.UpLoadPath = app.config["UPLOAD_DIR"]
            cargane.UserDiskQuota = app.config["QUOTA"]
            cargane.FileExtensionList(app.config["EXTENSIONS"])
            code = cargane.upload()
            stored = [(f.FileName, f.FileLen) for f in cargane.UploadedFiles]
            fields = [(i.Name, i.Value) for i in cargane.FormItems]
            status = wsgi_page.status_code
        rows = "".join(
            f"<li class=stored>{html.escape(name)} ({size} bytes)</li>"
            for name, size in stored)
        items = "".join(
            f"<li>{html.escape(name)}: {html.escape(value)}</li>"
            for name, value in fields)
        result = UPLOAD_RESULTS.get(code, f"Code {code}.")
        return page("Upload", f"""
<p id=result data-code="{code}">{html.escape(result)}</p>
<h2>Stored files</h2><ul id=files>{rows}</ul>
<h2>Fields</h2><ul>{items}</ul><p><a href="/">Upload more</a></p>""",
                    status if status != 200 else (200 if code == 1 else 422))

    @app.route("/mail", methods=["GET", "POST"])
    def mail():
        note = ""
        if request.method == "POST":
            penrill = corvane.create("Corvane.SMTP")
            penrill.SMTP = app.config["SMTP_SERVER"]
            penrill.MailFrom = app.config["MAIL_FROM"]
            penrill.MailTo = request.form.get("to", "")
            penrill.MailSubject = request.form.get("subject", "")
            for line in request.form.get("text", "").splitlines():
                penrill.MailContent = line
            if penrill.SendMail():
                note = "<p id=result>Sent.</p>"
            else:
                note = ("<p id=result>Not sent: " +
                        html.escape(penrill.GetLastErrDescription) + "</p>")
        return page("Mail", note + """
<form method="post" action="/mail">
<p><label>To <input type="email" name="to" required></label></p>
<p><label>Subject <input type="text" name="subject"></label></p>
<p><label>Text <textarea name="text"></textarea></label></p>
<p><button>Send</button></p></form>""")

    @app.get("/whois")
    def whois():
        query = request.args.get("q", "").strip()
        answer = ""
        if query:
            namewell = corvane.create("Corvane.WhoisQuery")
            if app.config["WHOIS_SERVER"]:
                namewell.WhoisServer = app.config["WHOIS_SERVER"]
            if not namewell.SendQuery(query):
                answer = ("<p id=result>Failed: " +
                          html.escape(namewell.GetLastErrDescription) +
                          "</p>")
            elif not namewell.IsRecordFound:
                answer = "<p id=result>No record found.</p>"
            else:
                answer = "<dl id=result>" + "".join(
                    f"<dt>{field[3:]}</dt><dd>"
                    f"{html.escape(str(getattr(namewell, field)))}</dd>"
                    for field in WHOIS_FIELDS) + "</dl>"
        return page("Whois", f"""
<form method="get" action="/whois">
<p><label>Domain <input type="text" name="q"
value="{html.escape(query)}"></label></p>
<p><button>Look up</button></p></form>{answer}""")

    return app


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--port", type=int, default=5000)
    parser.add_argument("--upload-dir",
                        default=os.path.join(tempfile.gettempdir(),
                                             "corvane-flask-uploads"))
    parser.add_argument("--quota", type=int, default=10 * 1024 * 1024)
    parser.add_argument("--extensions", default="txt,pdf,png,jpg,gif")
    parser.add_argument("--smtp", default="127.0.0.1:25",
                        help="the mail server, host:port")
    parser.add_argument("--whois", default="",
                        help="the whois server, host:port (else Namewell's "
                             "own choice for the domain)")
    options = parser.parse_args()
    app = create_app(options.upload_dir, options.quota,
                     options.extensions.split(","), options.smtp,
                     options.whois)
    print(f"Uploads go to {options.upload_dir}")
    app.run(host="127.0.0.1", port=options.port)


if __name__ == "__main__":
    main()

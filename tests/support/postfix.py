# SPDX-License-Identifier: Apache-2.0
"""A private postfix instance on a loopback port for the mail tests: its own
configuration, queue and data folders under a temporary folder, delivery to
maildirs there for the domain example.org, nothing relayed anywhere, and the
strict settings many sites run with. The machine's own mail system is never
touched."""

import glob
import os
import pwd
import shutil
import subprocess
import tempfile
import time

from support.ports import free_port

POSTFIX = "/usr/sbin/postfix"

MASTER_CF = """\
{listen} inet n - n - - smtpd
pickup    unix  n - n 60  1 pickup
cleanup   unix  n - n -   0 cleanup
qmgr      unix  n - n 300 1 qmgr
rewrite   unix  - - n -   - trivial-rewrite
bounce    unix  - - n -   0 bounce
defer     unix  - - n -   0 bounce
trace     unix  - - n -   0 bounce
verify    unix  - - n -   1 verify
flush     unix  n - n 1000? 0 flush
proxymap  unix  - - n -   - proxymap
showq     unix  n - n -   - showq
error     unix  - - n -   - error
retry     unix  - - n -   - error
discard   unix  - - n -   - discard
virtual   unix  - n n -   - virtual
anvil     unix  - - n -   1 anvil
scache    unix  - - n -   1 scache
postlog   unix-dgram n - n - 1 postlogd
"""

MAIN_CF = """\
compatibility_level = 3.6
config_directory = {config}
queue_directory = {queue}
data_directory = {data}
mail_owner = postfix
setgid_group = postdrop
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
myhostname = postfix.test
mydomain = postfix.test
myorigin = postfix.test
mydestination =
mynetworks = 127.0.0.0/8
relay_domains =
relayhost =
default_transport = error:nothing is relayed from this test instance
local_transport = error:no local delivery
virtual_mailbox_domains = example.org
virtual_mailbox_base = {mail}
virtual_mailbox_maps = texthash:{config}/mailboxes
virtual_uid_maps = static:{uid}
virtual_gid_maps = static:{gid}
virtual_minimum_uid = 1
alias_maps =
alias_database =
smtputf8_enable = no
biff = no
maillog_file = {log}
maillog_file_prefixes = {root}
smtpd_helo_required = yes
smtpd_helo_restrictions = reject_invalid_helo_hostname,
  reject_non_fqdn_helo_hostname
strict_rfc821_envelopes = yes
strict_7bit_headers = yes
strict_8bitmime_body = yes
smtpd_forbid_bare_newline = reject
"""


def can_run():
    """Why postfix cannot run here, or None when it can."""
    if not os.path.exists(POSTFIX):
        return "postfix is not installed"
    if os.geteuid() != 0:
        return "a private postfix instance needs root to start its master"
    try:
        pwd.getpwnam("postfix")
    except KeyError:
        return "the postfix user does not exist"
    return None


class PrivatePostfix:
    """Start with `with PrivatePostfix(["a@example.org", ...]) as server:`;
    `server.address` is its loopback address, `server.delivered(user)` the
    messages in that user's maildir."""

    def __init__(self, recipients):
        self.root = tempfile.mkdtemp(prefix="corvane-postfix-")
        os.chmod(self.root, 0o755)
        self.port = free_port()
        self.config = os.path.join(self.root, "etc")
        self.mail = os.path.join(self.root, "mail")
        self.log = os.path.join(self.root, "maillog")
        queue = os.path.join(self.root, "queue")
        data = os.path.join(self.root, "data")
        for folder in (self.config, self.mail, queue, data):
            os.mkdir(folder)
        owner = pwd.getpwnam("postfix")
        for folder in (self.mail, data):
            os.chown(folder, owner.pw_uid, owner.pw_gid)
        with open(os.path.join(self.config, "main.cf"), "w") as out:
            out.write(MAIN_CF.format(
                config=self.config, queue=queue, data=data, mail=self.mail,
                uid=owner.pw_uid, gid=owner.pw_gid, log=self.log,
                root=self.root))
        with open(os.path.join(self.config, "master.cf"), "w") as out:
            out.write(MASTER_CF.format(listen="127.0.0.1:%d" % self.port))
        with open(os.path.join(self.config, "mailboxes"), "w") as out:
            for address in recipients:
                user = address.split("@")[0]
                out.write("%s %s/\n" % (address, user))

    @property
    def address(self):
        return "127.0.0.1:%d" % self.port

    def _postfix(self, *command):
        return subprocess.run([POSTFIX, "-c", self.config, *command],
                              capture_output=True, text=True, timeout=60)

    def __enter__(self):
        started = self._postfix("start")
        if started.returncode != 0:
            self.__exit__()
            raise RuntimeError("postfix did not start: " + started.stderr)
        return self

    def __exit__(self, *exc):
        self._postfix("stop")
        shutil.rmtree(self.root, ignore_errors=True)

    def delivered(self, user, count=1, timeout=30):
        """The messages in the user's maildir, once `count` have arrived
        (they are delivered after the send returns), taken out of it; fewer
        on a time-out."""
        deadline = time.monotonic() + timeout
        while True:
            files = sorted(glob.glob(os.path.join(self.mail, user, "new", "*")))
            if len(files) >= count or time.monotonic() > deadline:
                break
            time.sleep(0.1)
        messages = []
        for name in files:
            with open(name, "rb") as message:
                messages.append(message.read())
            os.remove(name)
        return messages

    def log_text(self):
        try:
            with open(self.log, errors="replace") as log:
                return log.read()
        except OSError:
            return ""

# SPDX-License-Identifier: Apache-2.0
"""Whois replies shared by the whois tests, with the fields they parse to."""

DOMAIN_REPLY = (
    b"Registrant:\n"
    b"Widget Works (WIDGET-DOM)\n"
    b"   1 Main Street\n"
    b"   Springfield, XX 00000\n"
    b"\n"
    b"   Domain Name: WIDGET.ZZ\n"
    b"\n"
    b"   Administrative Contact, Technical Contact, Zone Contact:\n"
    b"      Doe, Jan  (JD1)  jan@widget.zz\n"
    b"      555 0100\n"
    b"   Billing Contact:\n"
    b"      Roe, Kim  (KR2)  kim@widget.zz\n"
    b"      555 0101\n"
    b"\n"
    b"   Record last updated on 01-Oct-98.\n"
    b"   Record created on 15-Mar-95.\n"
    b"   Database last updated on 5-Dec-98 15:40:41 EST.\n"
    b"\n"
    b"   Domain servers in listed order:\n"
    b"\n"
    b"   NS1.WIDGET.ZZ   10.0.0.1\n"
    b"   NS2.WIDGET.ZZ   10.0.0.2\n"
    b"\n")

JAN = "Doe, Jan  (JD1)  jan@widget.zz\n      555 0100"
KIM = "Roe, Kim  (KR2)  kim@widget.zz\n      555 0101"

# The component's properties after DOMAIN_REPLY.
DOMAIN_FIELDS = {
    "IsRecordFound": True,
    "GetRegistrant": "Widget Works (WIDGET-DOM)\n   1 Main Street\n"
                     "   Springfield, XX 00000",
    "GetDomainName": "WIDGET.ZZ",
    "GetAdministrativeContact": JAN,
    "GetTechnicalContact": JAN,
    "GetZoneContact": JAN,
    "GetBillingContact": KIM,
    "GetAdministrativeEmail": "jan@widget.zz",
    "GetTechnicalEmail": "jan@widget.zz",
    "GetZoneEmail": "jan@widget.zz",
    "GetbillingEmail": "kim@widget.zz",
    "GetRecordLastUpdateTime": "01-Oct-98",
    "GetRecordCreateTime": "15-Mar-95",
    "GetDatabaseLastUpdateTime": "5-Dec-98 15:40:41 EST",
    "GetDomainServers": "NS1.WIDGET.ZZ   10.0.0.1\n"
                        "   NS2.WIDGET.ZZ   10.0.0.2",
    "gethostname": "",
    "GetCoordinator": "",
}

HOST_REPLY = (
    b"Host record\n"
    b"\n"
    b"   Hostname: NS1.WIDGET.ZZ\n"
    b"   Address: 10.0.0.1\n"
    b"\n"
    b"   Coordinator:\n"
    b"      Doe, Jan  (JD1)  jan@widget.zz\n"
    b"      555 0100\n"
    b"\n"
    b"   Record last updated on 02-Oct-98.\n"
    b"   Database last updated on 6-Dec-98 10:00:00 EST.\n")

NO_MATCH_REPLY = b'No match for "NOPE.ZZ".\n'

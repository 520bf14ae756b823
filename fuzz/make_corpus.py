#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the seed corpora of the fuzz targets, one input per file:
 - corpus/: valid SMPP 3.4 PDUs as an SMSC sends them, and two streams;
 - corpus-settings/: SysInit.ini files;
 - corpus-service/: service.xml files;
 - corpus-reply/: SMTP/FTP server replies, after the reader's mode byte;
 - corpus-icmp/: ICMP answers, after five bytes of context."""
import os
import struct

ROOT = os.path.dirname(os.path.abspath(__file__))
HERE = os.path.join(ROOT, "corpus")


def pdu(command_id, status, sequence, body=b""):
    return struct.pack(">IIII", 16 + len(body), command_id, status, sequence) + body


def cstr(text):
    return text.encode() + b"\0"


def deliver(short_message=b"", esm_class=0, data_coding=0, optional=b"", sequence=7):
    body = (cstr("") + bytes([1, 1]) + cstr("46701234567") + bytes([0, 0]) + cstr("VANTOR")
            + bytes([esm_class, 0, 0]) + cstr("") + cstr("") + bytes([0, 0, data_coding, 0])
            + bytes([len(short_message)]) + short_message + optional)
    return pdu(0x00000005, 0, sequence, body)


RECEIPT = (b"id:123 sub:001 dlvrd:001 submit date:2403050708 done date:2403050709 "
           b"stat:DELIVRD err:000 text:Server down")

SEEDS = {
    "bind_transmitter_resp": pdu(0x80000002, 0, 0, cstr("SMSC")),
    "bind_resp_invalid_password": pdu(0x80000002, 0x0E, 1),
    "bind_transceiver_resp": pdu(0x80000009, 0, 2, cstr("SMSC")),
    "submit_sm_resp": pdu(0x80000004, 0, 3, cstr("4F2A1")),
    "submit_sm_resp_refused": pdu(0x80000004, 0x45, 4),
    "unbind_resp": pdu(0x80000006, 0, 5),
    "enquire_link": pdu(0x00000015, 0, 0x123456),
    "enquire_link_resp": pdu(0x80000015, 0, 6),
    "generic_nack": pdu(0x80000000, 0x03, 7),
    "deliver_sm_text": deliver(b"Server down"),
    "deliver_sm_receipt": deliver(RECEIPT, esm_class=0x04),
    "deliver_sm_udh": deliver(b"\x05\x00\x03\x2a\x02\x02part", esm_class=0x40),
    "deliver_sm_ucs2": deliver("A\u0436\u20ac".encode("utf-16-be"), data_coding=0x08),
    "deliver_sm_binary": deliver(b"\x00\xff\x10", data_coding=0x04),
    "deliver_sm_payload": deliver(
        optional=b"\x04\x24\x00\x05hello\x02\x04\x00\x02\x00\x07"),
    "stream_resp_and_enquire": pdu(0x80000004, 0, 8, cstr("ID7")) + pdu(0x00000015, 0, 9),
    "stream_with_partial_tail": pdu(0x80000006, 0, 10) + pdu(0x00000015, 0, 11)[:8],
}


SETTINGS_FULL = b"""[System]
InitStart=1
WindowWidth=1024
WindowHeight=768
ShowFunctionBar=1
ShowWindowAlarmLog=1
ShowLogItem=100

[http]
HTTPDefaultTimeout=10000
HTTPRetry=1

[ping]
PingDefaultTimeout=3000
PingRetry=0

[ftp]
FTPDefaultTimeout=10000
FTPRetry=0

[email]
EmailDefaultTimeout=10000
EmailRetry=1

[System Log]
HouseKeepDay=7
Filename=system_

[Alarm Msg File Backup]
Enable=1
FilenamePath=/var/log/vantor/
Filename=AlarmMsg_
HouseKeepDay=30

[SMTP Alarm]
Enable=1
IP=127.0.0.1
Port=25
EmailAddress=ops@example.com
MailAgent=vantor
FromAddress=monitor@example.com
Authentication Enable=1
Username=monitor
Password=s3cret=x
Timeout=5000

[SMS Alarm]
Enable=0
IP=127.0.0.1
Port=2775
Version=$34
TON=0x01
NPI=1
Phone=46701234567

[HTTP-SMS Alarm]
Enable=1
URL=http://127.0.0.1/send?user=a
Method=Post
MSISDN FieldName=to
MESSAGE FieldName=text

[SysLog Alarm]
Enable=1
IP=127.0.0.1
Port=514
Facility=local3
Severity=warning
Timeout=2000
"""

SETTINGS = {
    "full_lf": SETTINGS_FULL,
    "full_crlf_bom": b"\xef\xbb\xbf" + SETTINGS_FULL.replace(b"\n", b"\r\n"),
    "cr_only": b"[SMTP Alarm]\rEnable=1\rIP=127.0.0.1\r",
    "out_of_range": (b"[System]\nWindowWidth=-5\nShowLogItem=-1\n[http]\nHTTPDefaultTimeout=0\n"
                     b"HTTPRetry=7\n[ping]\nPingRetry=-1\n[System Log]\nHouseKeepDay=-3\n"
                     b"[SysLog Alarm]\nFacility=nosuch\nSeverity=\nTimeout=99999999999\n"),
    "duplicates_comments": (b"; written by hand\n# another comment\n[system]\n  initstart = 0 \n"
                            b"InitStart=1\nnot a key line\n[System]\nShowLogItem=5\n"
                            b"[SMTP Alarm\nIP=broken header\n[ SMTP Alarm ]\nIP= 127.0.0.1 \t\n"),
    "empty": b"",
}


def element(name, value):
    return f"<{name}>{value}</{name}>"


def record(service, ip, port, status="Start", by="Minutely", hour="00", minute="5",
           url_group=True, extra=()):
    key = f"{service}:{ip}:{port}"
    text = f'<record key="{key}">'
    for name, value in (("service", service), ("ip", ip), ("port", port),
                        ("username", "user"), ("password", "p&amp;ss"),
                        ("schedule_by", by), ("schedule_hour", hour),
                        ("schedule_minute", minute), ("service_status", "Passed"),
                        ("status", status), ("proxy_ip", ""), ("proxy_port", "0"),
                        ("proxy_username", ""), ("proxy_password", ""),
                        ("url_method", "Get"), ("ftp_proxytype", ""),
                        ("alarm_email", "y"), ("alarm_smpp", "n"),
                        ("alarm_httpsms", "n"), ("alarm_syslog", "y")):
        text += element(name, value)
    if service == "URL" and url_group:
        text += "<service_url>"
        for name in ("referer", "cookie", "headerData", "userAgent", "contentType",
                     "accept", "acceptCharSet", "acceptEncoding", "acceptLanguage"):
            text += element(name, "a=b" if name == "cookie" else "")
        text += "</service_url>"
    for name, value in extra:
        text += "<service_url_detail>" + element("fieldname", name) + element(
            "fieldvalue", value) + "</service_url_detail>"
    return text + "</record>\n"


XML_HEAD = ('<?xml version="1.0" encoding="UTF-8" standalone="no"?>'
            "<!DOCTYPE service><serviceList>\n")

SERVICE = {
    "template": XML_HEAD.rstrip("\n") + "</serviceList>",
    "every_kind": XML_HEAD
    + record("URL", "http://127.0.0.1:8080/health?x=1", "8080", extra=(("q", "1"), ("r", "")))
    + record("SMTP", "127.0.0.1", "25", by="Daily", hour="08", minute="30")
    + record("POP3", "127.0.0.1", "110", by="Hourly", minute="15")
    + record("IMAP", "127.0.0.1", "143", status="Stop")
    + record("PING", "127.0.0.1", "0")
    + record("FTP", "127.0.0.1", "21")
    + record("Database", "127.0.0.1", "1521")
    + "</serviceList>\n",
    "duplicate_keys_comments": XML_HEAD
    + "<!-- <record key=\"old\"/> -->\n"
    + record("PING", "127.0.0.1", "0")
    + record("PING", "127.0.0.1", "0", status="Stop")
    + "<?keep this?>\n</serviceList>\n",
    "missing_fields": XML_HEAD
    + '<record key="URL:x:80"><service>URL</service><ip>x</ip></record>\n'
    + '<record><service>PING</service></record>\n<other/>text\n</serviceList>\n',
    "cdata_cr": XML_HEAD
    + record("URL", "127.0.0.1", "80", url_group=False).replace(
        "<username>user</username>", "<username><![CDATA[a<b]]>&#13;x</username>")
    + "</serviceList>\n",
}

# The reply reader's mode byte: 0 reads replies one after another; 8 reads a
# 220 greeting first; 1 (then a byte) caps lines at 1 + 16 * that byte; 2
# (then a byte) sends the bytes in pieces; 4 (then a count of two bytes, a
# length byte and a line) repeats one line first.
REPLY = {
    "greeting": b"\x08220 mail.example.com ESMTP ready\r\n",
    "ehlo_multiline": (b"\x00250-mail.example.com Hello\r\n250-SIZE 10240000\r\n"
                       b"250-AUTH PLAIN LOGIN\r\n250 HELP\r\n"),
    "ftp_banner_block": (b"\x08220-Welcome\r\n  to the FTP server\r\n220-more\n220 ready\r\n"
                         b"331 Password required\r\n230 Logged in\r\n"),
    "refused_bare_code": b"\x08554\r\n",
    "pieces": b"\x02\x03250-a\r\n250-b\r\n250 c\r\n221 Bye\r\n",
    "not_a_reply": b"\x00HTTP/1.1 200 OK\r\n",
    "cut_off": b"\x00250-first line\r\n250-second",
    # The line "250-x" 10,001 times: past the cap on lines.
    "many_lines": b"\x04\x27\x11\x07250-x\r\n250 end\r\n",
    # 4,352 lines of 254 bytes: past the cap on bytes.
    "many_bytes": b"\x04\x11\x00\xff" + b"250-" + b"y" * 250 + b"\n" + b"250 end\r\n",
    # A cap of 17 bytes, and more than that without a line end.
    "line_cap": b"\x01\x01250 a line longer than seventeen bytes",
}


def be16(value):
    return struct.pack(">H", value)


def icmp_context(flags, ident=0x1234, sequence=7):
    return bytes([flags]) + be16(ident) + be16(sequence)


def echo(kind, ident=0x1234, sequence=7):
    return bytes([kind, 0, 0, 0]) + be16(ident) + be16(sequence) + b"ping"


def ipv4(protocol=1):
    header = bytearray(20)
    header[0] = 0x45
    header[9] = protocol
    return bytes(header)


def ipv6(next_header=58):
    header = bytearray(40)
    header[0] = 0x60
    header[6] = next_header
    return bytes(header)


ICMP = {
    "v4_raw_reply": icmp_context(6) + ipv4() + echo(0),
    "v4_dgram_reply": icmp_context(0) + echo(0, ident=0x9999),
    "v4_raw_unreachable": icmp_context(6) + ipv4() + bytes([3, 1, 0, 0, 0, 0, 0, 0])
    + ipv4() + echo(8)[:8],
    "v4_time_exceeded_options": icmp_context(4) + bytes([11, 0, 0, 0, 0, 0, 0, 0])
    + bytes([0x46]) + ipv4()[1:] + b"\x01\x01\x01\x00" + echo(8)[:8],
    "v6_reply": icmp_context(5) + echo(129),
    "v6_unreachable": icmp_context(5) + bytes([1, 3, 0, 0, 0, 0, 0, 0]) + ipv6() + echo(128)[:8],
    "v4_other_sequence": icmp_context(4) + echo(0, sequence=8),
}


def write_corpus(directory, seeds):
    path = os.path.join(ROOT, directory)
    os.makedirs(path, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(path, name), "wb") as f:
            f.write(data.encode() if isinstance(data, str) else data)


def main():
    write_corpus("corpus", SEEDS)
    write_corpus("corpus-settings", SETTINGS)
    write_corpus("corpus-service", SERVICE)
    write_corpus("corpus-reply", REPLY)
    write_corpus("corpus-icmp", ICMP)


if __name__ == "__main__":
    main()

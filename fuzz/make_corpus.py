#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_smpp_pdu: valid SMPP 3.4 PDUs as an SMSC
sends them, one per file, and two streams of several PDUs."""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


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


def main():
    os.makedirs(HERE, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

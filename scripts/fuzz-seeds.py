#!/usr/bin/python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/<target>/: valid exchanges built from
the protocol reference vectors and the unit tests, in each target's input layout (see the comment
at the top of each target). Run it again after changing a layout; the fuzzers' own finds are
not kept here."""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "fuzz")


def words(text):
    return bytes.fromhex(text.replace(" ", ""))


def be32(*values):
    return b"".join(struct.pack(">I", v & 0xFFFFFFFF) for v in values)


def piece(data):
    return struct.pack(">H", len(data)) + data


def record(body, last=True):
    return be32((0x80000000 if last else 0) | len(body)) + body


def opaque(data):
    return be32(len(data)) + data + b"\0" * ((4 - len(data) % 4) % 4)


def rpc_reply(xid, results):
    return record(be32(xid, 1, 0, 0, 0, 0) + results)


def rpc_call(xid, program, procedure, args, version=None):
    if version is None:
        version = 2 if program == 100000 else 1
    return record(be32(xid, 0, 2, program, version, procedure, 0, 0, 0, 0) + args)


def hislip(kind, control, parameter, payload=b""):
    return b"HS" + bytes([kind, control]) + struct.pack(">IQ", parameter, len(payload)) + payload


IDN = b"ACME,SIM,1,1.0\n"
CORE = 0x0607AF


def write_corpus(target, seeds):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def vxi11_client_codec():
    getport = words("8000001c 00000001 00000001 00000000 00000000 00000000 00000000 00000400")
    create = words("80000028 00000002 00000001 00000000 00000000 00000000 00000000 00000000 "
                   "00000000 00000000 00000400")
    write = words("80000020 00000003 00000001 00000000 00000000 00000000 00000000 00000000 00000006")
    read = words("80000034 00000004 00000001 00000000 00000000 00000000 00000000 00000000 "
                 "00000004 0000000f 41434d45 2c53494d 2c312c31 2e300a00")
    body = read[4:]
    fragments = be32(10) + body[:10] + be32(20) + body[10:30] + be32(0x80000000 | (len(body) - 30)) + body[30:]
    denied = record(be32(5, 1, 1, 0, 2, 2))
    mismatch = record(be32(6, 1, 0, 0, 0, 2, 1, 1))
    # A portmapper reply without the last-fragment bit, accepted at its exact size.
    unterminated = be32(len(getport) - 4) + getport[4:]
    return {
        "getport-reply": b"\0" + getport,
        "create-link-reply": b"\0" + create,
        "write-then-read-replies": b"\0" + write + read,
        "three-fragments": b"\0" + fragments,
        "denied-and-mismatch": b"\0" + denied + mismatch,
        "unterminated-portmap": bytes([0x40, (len(getport) - 4) // 4]) + unterminated,
        "small-bound": bytes([0x80, 16]) + read,
    }


def vxi11_client_session():
    def replies(*records):
        return b"".join(piece(b"\x01" + r) for r in records)

    def write_reply(size):
        return rpc_reply(0, be32(0, size))

    def read_reply(data, reason=4, error=0):
        return rpc_reply(0, be32(error, reason) + opaque(data))

    clear = rpc_reply(0, be32(0))
    write6, read_all, clear_op = 6 << 2, 2, 3
    return {
        "query-twice": bytes([0, 0, 0, write6, read_all, write6, read_all, clear_op, write6])
        + replies(write_reply(6), read_reply(IDN), write_reply(6), read_reply(IDN), clear, write_reply(6)),
        # A read of 4 bytes leaves the rest of the reply for the next read.
        "short-reads": bytes([0, 0, 3, write6, (3 << 2) | 1, read_all, write6, (0 << 2) | 1, read_all])
        + replies(write_reply(6), read_reply(IDN), write_reply(6), read_reply(b"1", 1), read_reply(b"2\n")),
        "term-char": bytes([0x04, ord(","), 0, write6, read_all, read_all, read_all, 0, 0])
        + replies(write_reply(6), read_reply(IDN)),
        # maxRecvSize 7: a 20-byte write goes out as three calls, END on the last.
        "small-recv-size": bytes([0x10, 0, 0, 20 << 2, read_all, 0, 0, 0, 0])
        + replies(write_reply(7), write_reply(7), write_reply(6), read_reply(IDN)),
        "stale-reply-first": bytes([0, 0, 0, write6, read_all, 0, 0, 0, 0])
        + piece(b"\x01" + write_reply(6)) + piece(b"\x05" + read_reply(b"old\n")) + piece(b"\x05" + read_reply(IDN)),
        "device-errors": bytes([0, 0, 0, write6, read_all, read_all, 0, 0, 0])
        + replies(rpc_reply(0, be32(11, 0)), read_reply(b"", 0, 15), read_reply(b"", 0, 4)),
        "link-refused": bytes([3, 0, 0, write6, 0, 0, 0, 0, 0]),
    }


def hislip_client():
    def script(settings, operations, sync=b"", async_=b"", session=1):
        return bytes([settings]) + struct.pack(">H", session) + bytes(operations) + piece(sync) + piece(async_)

    write6, read_all, clear_op = 6 << 2, 2, 3
    first, second = 0xFFFFFF00, 0xFFFFFF02
    return {
        "query": script(0, [write6, read_all, 0, 0, 0, 0], hislip(7, 0, first, IDN)),
        "two-queries": script(0, [write6, read_all, write6, read_all, 0, 0],
                              hislip(7, 0, first, IDN) + hislip(7, 0, second, IDN)),
        "device-clear": script(0, [write6, clear_op, write6, read_all, 0, 0],
                               hislip(9, 0, 0) + hislip(7, 0, first, IDN), hislip(23, 0, 0)),
        # The server takes 17-byte messages: one data byte each.
        "small-messages": script(1 << 2, [10 << 2, read_all, 0, 0, 0, 0],
                                 hislip(6, 0, first + 18, b"AC") + hislip(7, 0, first + 18, b"ME\n")),
        "stale-then-interrupted": script(0x10, [write6, read_all, (2 << 2) | 1, read_all, 0, 0],
                                         hislip(7, 0, first - 2, b"old\n") + hislip(13, 0, first)
                                         + hislip(7, 0, first, IDN)),
        "raw-opening": script(1, [write6, read_all, 0, 0, 0, 0],
                              words("48 53 01 00 01 00 00 01 00 00 00 00 00 00 00 00"),
                              words("48 53 12 00 00 00 53 4d 00 00 00 00 00 00 00 00")
                              + hislip(16, 0, 0, struct.pack(">Q", 1 << 20))),
        "fatal-error": script(0, [write6, read_all, write6, 0, 0, 0], hislip(2, 1, 0, b"bad header")),
        "unknown-message": script(0, [write6, read_all, read_all, 0, 0, 0],
                                  hislip(3, 1, 0, b"what") + hislip(200, 0, 0, b"??") + hislip(7, 0, first, IDN)),
    }


def scpi_engine():
    def messages(settings, *texts):
        return bytes([settings]) + b"\xff".join(t.encode("latin-1") for t in texts)

    generator = ["*RST", "*OPC?", "SOURCE1:FREQ:LOSC:MODE COUPLED", "MMEM:CDIR 'C:\\Program Files\\Maltoven\\VRQFirmware\\Lists'",
                 "MMEM:DATA 'dc.wv',#14ABCD", "SOURCE1:BB:ARB:WAV:SEL 'dc.wv'", "SOURCE1:BB:ARB:STAT ON",
                 "SOURCE1:IQ:STAT ON", "SOURCE1:POW 0", "OUTP1 ON", "FREQ 1000000000;*OPC?",
                 "SOURCE1:POW:POW -10.0;*OPC?", "SOURCE1:BB:POFF 12.34DEG", "SYST:ERR?", "*IDN?"]
    analyzer = ["*RST", "*OPC?", "FREQ:CENT 1000000000", ";SPAN 50Hz", "BAND:RES 100", "BAND:VID:AUTO ON",
                "SWE:TIME:AUTO ON", "DISP:WIND:TRAC:Y 80DB", "DISP:WIND:TRAC:Y:RLEV 0dBm", "CALC1:MARK1:X 1 GHZ",
                "CALC:MARK1:TRAC 1", "INIT:CONT OFF", "INIT;*WAI", "CALC1:MARK1:Y?", "SYST:ERR?"]
    return {
        "generator-setup": messages(4, *generator),
        "generator-two": messages(1 | 8, "*RST;*OPC?", "SOUR:POW:ALC ON", "SOURCE1:FREQ:LOSC:MODE EXT",
                                  "SOUR:ROSC:SOUR EXT", "FREQ?", "SOUR:POW:LEV?", "DIAG:MEAS:POIN? 'DIAG_VECBRD_TEMP2'"),
        "analyzer-setup": messages(2 | 4, *analyzer),
        "header-paths": messages(2, "CALC2:MARK3:STAT ON;:CALC:MARK:X?;Y?", "*ESE 255;*ESR?;*STB?",
                                 "SENS:FREQ:CENT 2.5e9HZ;SPAN MAX", "init:cont on;:INIT:CONT?"),
        "blocks-and-strings": messages(0, "MMEM:DATA 'a;b.wv',#211ab\ncd;ef\"gh", "MMEM:DATA? 'a;b.wv'",
                                       "MMEM:DATA 'x.wv',#0\x01\x02\n", "SOURCE1:BB:ARB:WAV:SEL \"it's\""),
        "errors": messages(4, "FREQ 1 XHZ", "FREQ:CENT", "*IDN? 1", "SOURCE3:POW 0", "SYST:ERR?;SYST:ERR?",
                           "FREQ #10", "POW MIN;POW?;POW DEF;POW MAXIMUM"),
    }


def vxi11_server():
    def core(xid, procedure, args):
        return rpc_call(xid, CORE, procedure, args)

    create = words("80000040 00000002 00000000 00000002 000607af 00000001 0000000a 00000000 00000000 "
                   "00000000 00000000 00001234 00000000 00002710 00000005 696e7374 30000000")
    write = words("80000044 00000003 00000000 00000002 000607af 00000001 0000000b 00000000 00000000 "
                  "00000000 00000000 00000000 00002710 00002710 00000008 00000006 2a49444e 3f0a0000")
    read = words("80000040 00000004 00000000 00000002 000607af 00000001 0000000c 00000000 00000000 "
                 "00000000 00000000 00000000 00002710 00002710 00002710 00000000 00000000")
    getport = words("80000038 00000001 00000000 00000002 000186a0 00000002 00000003 00000000 00000000 "
                    "00000000 00000000 000607af 00000001 00000006 00000000")
    destroy = core(5, 23, be32(0))
    query = create + write + read + destroy
    body = write[4:]
    split = be32(8) + body[:8] + be32(0x80000000 | (len(body) - 8)) + body[8:]
    locks = (core(1, 10, be32(1, 1, 5) + opaque(b"gpib0,28")) + core(2, 10, be32(2, 0, 0) + opaque(b"GPIB0,28"))
             + core(3, 11, be32(1, 5, 5, 0x09) + opaque(b"*RST\n")) + core(4, 18, be32(1, 1, 5))
             + core(5, 19, be32(1)) + core(6, 15, be32(1, 0, 5, 5)) + core(7, 13, be32(1, 0, 5, 5))
             + core(8, 20, be32(1, 1) + opaque(b"handle")) + core(9, 22, be32(1, 0, 0, 0, 0) + opaque(b""))
             + core(10, 25, be32(0)) + core(11, 23, be32(1)))
    return {
        "getport": bytes([0, 0, 0, 0, 0]) + getport
        + rpc_call(2, 100000, 3, be32(0, 1) + opaque(b"tcp") + opaque(b"") + opaque(b""), version=4),
        "query": bytes([0, 0, 0, 0, 0]) + query,
        "query-byte-by-byte": bytes([0, 1, 1, 1, 1]) + query,
        "query-small-chunks": bytes([2, 7, 13, 3, 64]) + create + split + read,
        "links-and-locks": bytes([1, 0, 0, 0, 0]) + locks,
        "bad-calls": bytes([0, 0, 0, 0, 0]) + create + rpc_call(3, CORE, 11, be32(0), version=2)
        + record(be32(4, 0, 3)) + core(5, 99, b"") + core(6, 11, be32(0, 1, 1, 8, 0x7FFFFFFF)),
    }


def hislip_server():
    def script(settings, pieces, sync=b"", async_=b""):
        return bytes([settings, pieces]) + piece(sync) + piece(async_)

    first = 0xFFFFFF00
    return {
        "query": script(1, 0, hislip(7, 0, first, b"*IDN?\n"), hislip(15, 0, 0, struct.pack(">Q", 1 << 20))),
        "two-messages": script(1, 3, hislip(6, 0, first, b"FREQ 1 GH") + hislip(7, 0, first, b"Z;*OPC?\n")
                               + hislip(7, 1, first + 2, b"FREQ?\n")),
        "generator-block": script(1 | 2, 5, hislip(7, 0, first, b"MMEM:DATA 'dc.wv',#15A\nB;C\n")
                                  + hislip(7, 0, first + 2, b"MMEM:DATA? 'dc.wv'\n")),
        "clear-and-status": script(1, 0, hislip(7, 0, first, b"*IDN?\n") + hislip(8, 0, 0)
                                   + hislip(7, 0, first, b"*IDN?\n"),
                                   hislip(21, 0, 0) + hislip(19, 0, 0) + hislip(24, 0, 0)),
        "locks": script(1, 0, hislip(7, 0, first, b"*IDN?\n"),
                        hislip(4, 1, 10) + hislip(24, 0, 0) + hislip(4, 0, 0) + hislip(4, 1, 0, b"shared")
                        + hislip(4, 0, 0) + hislip(10, 2, 0)),
        "oversize-and-unknown": script(1, 0, hislip(7, 0, first, b"x" * 300) + hislip(12, 1, 0)
                                       + hislip(200, 0, 0) + hislip(3, 0, 0, b"err"), hislip(99, 0, 0)),
        "raw-initialize": script(0, 0, words("48 53 00 00 01 00 58 58 00 00 00 00 00 00 00 07 68 69 73 6c 69 70 30")
                                 + hislip(7, 0, first, b"*IDN?\n")),
        "bad-prologue": script(1, 0, b"XS" + bytes(14)),
        "unknown-sub-address": script(1 | 6, 0, hislip(7, 0, first, b"*IDN?\n")),
    }


def main():
    write_corpus("fuzz_vxi11_client_codec", vxi11_client_codec())
    write_corpus("fuzz_vxi11_client_session", vxi11_client_session())
    write_corpus("fuzz_hislip_client", hislip_client())
    write_corpus("fuzz_scpi_engine", scpi_engine())
    write_corpus("fuzz_vxi11_server", vxi11_server())
    write_corpus("fuzz_hislip_server", hislip_server())


if __name__ == "__main__":
    main()

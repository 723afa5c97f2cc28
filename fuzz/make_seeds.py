#!/usr/bin/env python3
"""Writes the hand-made seed inputs of every fuzz target into corpus/<target>/seed-<name>.

Each seed is a meaningful case laid out as the target reads its input (see the comment at the
top of each <Name>Fuzz.cpp). Run again after changing a target's input layout; the fuzzer's
own finds sit beside the seeds under their hash names.
"""
import os
import random
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def crc16(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def frame(*parts):
    body = b"".join(bytes(p) for p in parts)
    c = crc16(body)
    return body + bytes([c & 0xFF, c >> 8])


def pieces(*items):
    """Length-prefixed pieces."""
    out = b""
    for item in items:
        item = bytes(item)
        assert len(item) < 256
        out += bytes([len(item)]) + item
    return out


def fbe(*values):
    return b"".join(struct.pack(">f", v) for v in values)


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(bytes(data))


def datalink():
    reply = frame([1, 3, 2, 0, 7])
    write("Datalink", "read-reply-whole", bytes([0, 3]) + pieces(reply))
    write("Datalink", "read-reply-single-bytes", bytes([0, 3]) + pieces(*[[b] for b in reply]))
    write("Datalink", "exception-reply", bytes([0, 3]) + pieces(frame([1, 0x83, 2])))
    write("Datalink", "exception-with-text", bytes([0, 3]) + pieces(frame([1, 0x83, 4], b"busy")))
    write("Datalink", "noise-before-reply", bytes([0, 3]) + pieces(b"\x00\xff" + reply))
    write("Datalink", "wrong-node", bytes([0, 3]) + pieces(frame([2, 3, 2, 0, 7])))
    write("Datalink", "other-function", bytes([0, 3]) + pieces(frame([1, 4, 2, 0, 7])))
    # A frame that ends early by its CRC, then more bytes the parser wants.
    early = frame([1, 3, 2, 0, 7])
    write("Datalink", "short-then-rest", bytes([8, 3]) + pieces(early, b"\x01\x02\x03\x04"))
    write("Datalink", "garbage-only", bytes([0, 3]) + pieces(b"\x01\x03\x02\x00", b"\x07\x00"))
    write("Datalink", "vendor-reply", bytes([3, 100]) + pieces(frame([1, 100, 5, 0, 22], b"ABC")))


def function_layer():
    def op(code, kind, address, n, extra=b"", mode=0, split=255, data=b""):
        return bytes([code, kind]) + struct.pack(">H", address) + bytes([n]) + extra + \
            bytes([mode, split]) + data
    write("FunctionLayer", "read-register", op(0, 1, 900, 0, data=b"\x02\x01\x02"))
    write("FunctionLayer", "read-uint16s", op(1, 0, 9100, 2, data=b"\x04\x00\x01\x00\x02"))
    write("FunctionLayer", "read-int16s-inconsistent", op(2, 1, 100, 2, data=b"\x02\x00\x01\x02"))
    write("FunctionLayer", "read-floats", op(3, 0, 9000, 3, data=b"\x0c" + fbe(1.5, -2, 3e6)))
    write("FunctionLayer", "read-uint32s", op(4, 0, 65200, 1, data=b"\x04\x00\x00\x01\x00"))
    write("FunctionLayer", "read-float-split", op(5, 1, 9000, 0, split=3, data=b"\x04" + fbe(2.5)))
    write("FunctionLayer", "read-data", op(6, 1, 65100, 4, data=b"\x04\x05\x03\x07\xe0"))
    write("FunctionLayer", "read-string", op(7, 1, 9200, 8, data=b"\x08Pump A\x00\x00"))
    write("FunctionLayer", "read-bits", op(8, 1, 0, 1, data=b"\x02\xff\x01"))
    write("FunctionLayer", "read-bit", op(9, 0, 908, 0, data=b"\x01\x01"))
    write("FunctionLayer", "write-register", op(10, 0, 590, 30, data=b"\x02\x4e\x00\x1e"))
    write("FunctionLayer", "write-coil-bad-echo", op(11, 0, 912, 1, data=b"\x03\x90\x12\x34"))
    write("FunctionLayer", "write-data", op(12, 0, 9200, 4, b"ABCD", data=b"\x23\xf0\x00\x02"))
    write("FunctionLayer", "write-float", op(13, 0, 9400, 6, data=b"\x24\xb8\x00\x02"))
    write("FunctionLayer", "write-string", op(14, 0, 9200, 5, b"hello\x00",
                                             data=b"\x23\xf0\x00\x03"))
    write("FunctionLayer", "vendor-command", op(15, 0, 22, 0, data=b"\x05\x00\x16ABC"))
    write("FunctionLayer", "exception-reply", op(0, 1, 900, 0, mode=1, data=b"\x02"))


def vendor_reply():
    head = lambda op, version, flags=0: bytes([op, version - 1, flags])
    gain = bytes([4]) + b"Gain" + bytes([1]) + b"V" + struct.pack(">HH", 0x0100, 0x0B01)
    mode = bytes([4]) + b"Mode" + bytes([0]) + struct.pack(">HH", 0x0200, 0x3400)
    enum = bytes([3]) + b"Off" + struct.pack(">H", 0) + bytes([2]) + b"On" + struct.pack(">H", 1)
    write("VendorReply", "parameters", head(0, 9) + pieces(gain, mode, enum, b"", b""))
    write("VendorReply", "parameter-bad-length", head(0, 9) + pieces(gain + b"\x00", b""))
    write("VendorReply", "parameters-old-firmware", head(0, 4) + pieces(gain, b""))
    write("VendorReply", "live-data", head(1, 9) + pieces(b"\x02" + fbe(1.25, 7.5)))
    write("VendorReply", "live-data-reflected", head(1, 9) + pieces(b"\x03" + fbe(1.25)))
    write("VendorReply", "historical-end", head(2, 9) + pieces(b"\x00"))
    write("VendorReply", "historical-too-long", head(2, 9) + pieces(b"\x01" + fbe(1, 2)))
    write("VendorReply", "note", head(3, 9) + pieces(b"Pressure sensor ", b"on pump 2", b""))
    write("VendorReply", "note-endless-card", head(3, 9, 0xE5) + pieces(b"x" * 128))
    write("VendorReply", "note-endless-tiny-pieces", head(3, 9, 0xE5) + pieces(b"y"))
    write("VendorReply", "named-float", head(4, 9) + pieces(b"\x01" + fbe(5.0)))
    write("VendorReply", "named-string", head(4, 9) + pieces(b"\x02hello"))
    write("VendorReply", "named-uint32", head(4, 9) + pieces(b"\x03\x00\x01\x00\x00"))
    write("VendorReply", "named-array", head(4, 9) + pieces(b"\x04" + fbe(1, 2, 3)))
    write("VendorReply", "named-old-floats", head(4, 7) + pieces(fbe(2.5)))
    write("VendorReply", "texts", head(5, 9) + pieces(b"DIP1=on DIP2=off", b"Mar  4 2024"))
    write("VendorReply", "packed-direct", bytes([6, 0, 0]) + b"\x04" + fbe(1, 2))


def config_restore():
    # Card type 3: 6 inputs, outputs as the card layer says; the notes section is only read
    # where the card keeps notes.
    def notes(count_in, count_out, text=b""):
        out = b""
        for count in (count_in, count_out):
            for i in range(count):
                out += struct.pack("<II", i, len(text)) + text
        return out

    def block(content):
        return struct.pack("<hH", 4 + len(content), crc16(content)) + content

    def image(version, card_type, config, notes_section=b"", cm=None):
        out = bytes([version, card_type]) + struct.pack("<I", len(config)) + config
        if version >= 2:
            out += struct.pack("<I", len(notes_section)) + notes_section
        if version == 3:
            cm = cm if cm is not None else b""
            out += struct.pack("<I", len(cm)) + cm
        return out

    config = b"\x01\x02\x03\x04" + b"\x10" * 140
    write("ConfigRestore", "v3-plain", bytes([0, 4, 0]) + image(3, 1, config))
    write("ConfigRestore", "v3-notes-block", bytes([0, 4, 3]) +
          image(3, 1, config, notes(16, 8, b"n"), block(b"CM-data")))
    write("ConfigRestore", "v3-block-bad-crc", bytes([0, 4, 1]) +
          image(3, 1, config, b"", b"\x0b\x00\x00\x00CM-data"))
    write("ConfigRestore", "v3-notes-wrong-index", bytes([0, 4, 2]) +
          image(3, 1, config, struct.pack("<II", 1, 0)))
    write("ConfigRestore", "v2", bytes([2, 3, 2]) + image(2, 3, config, notes(6, 6)))
    write("ConfigRestore", "v1", bytes([0, 1, 0]) + bytes([1, 1]) + config)
    write("ConfigRestore", "other-card-type", bytes([1, 4, 0]) + image(3, 1, config))
    write("ConfigRestore", "huge-length", bytes([0, 4, 0]) + bytes([3, 1]) + b"\xff\xff\xff\xff")
    write("ConfigRestore", "unknown-version", bytes([0, 4, 0]) + bytes([9, 1]) + config)


def points_csv():
    write("PointsCsv", "plain", b"\x00Input 1,Flow,PN-1,first note\nOutput 2,Valve,PN-2,\n")
    write("PointsCsv", "quoted-bom-crlf",
          b"\x03\xef\xbb\xbfI 3,\"Tank, level\"m,\"P\"\r\nO1,\"open\r\n")
    write("PointsCsv", "out-of-range", b"\x01Input 0,a\nInput 17,b\nOutput 9,c\nX 1,d\n")
    write("PointsCsv", "many-lines", b"\x03" + b"Input 1,a,b,c\n" * 40)
    write("PointsCsv", "card-type-5", b"\x05Input 1,a\n")
    write("PointsCsv", "long-line", b"\x01Input 1," + b"x" * 600 + b"\n")


def traffic_log():
    def record(kind, time, data):
        return bytes([kind]) + struct.pack("<I", time & 0xFFFFFFFF) + bytes([time >> 32, len(data)]) \
            + data
    request = frame([1, 1, 0, 10, 0, 3])
    reply = frame([1, 1, 1, 5])
    stream = record(2, 1000, request) + record(3, 1500, reply)
    write("TrafficLog", "coils-request-reply", pieces(stream))
    write("TrafficLog", "split-record", pieces(stream[:10], stream[10:]))
    write("TrafficLog", "errors-and-reset", pieces(
        record(1, 10 ** 9, b"") + record(4, 5, b"") + record(6, 6, b"\x01") + record(9, 7, b"")))
    write("TrafficLog", "exception-and-short", pieces(
        record(3, 1, frame([1, 0x83, 2])) + record(2, 2, b"\x01\x03\x00")))
    write("TrafficLog", "writes", pieces(
        record(2, 1, frame([1, 15, 0, 1, 0, 10, 2, 0xff, 0x03])) +
        record(3, 2, frame([1, 16, 0, 1, 0, 2, 4, 0, 1, 0, 2])) +
        record(2, 3, frame([1, 5, 0, 1, 0xff, 0])) + record(3, 4, frame([1, 6, 0, 1, 0, 9]))))
    write("TrafficLog", "registers", pieces(
        record(2, 1, frame([1, 3, 0, 0, 0, 2])) + record(3, 2, frame([1, 3, 4, 0, 1, 0, 2]))))
    write("TrafficLog", "big-time", pieces(record(2, (1 << 40) - 1, frame([1, 4, 0, 0, 0, 1]))))


def calib_board():
    def case(op, payload, reply_data, checksum=None):
        if checksum is None:
            checksum = (-sum(reply_data)) & 0xFF
        return bytes([op, len(payload)]) + bytes(payload) + bytes([len(reply_data)]) + \
            bytes(reply_data) + bytes([checksum])
    write("CalibBoardReply", "ping-ack", case(0, b"", [0, 0]))
    write("CalibBoardReply", "not-ack", case(0, b"", [0, 5]))
    write("CalibBoardReply", "not-ack-allowed", case(64, b"", [0, 5]))
    write("CalibBoardReply", "bad-checksum", case(0, b"", [0, 0], 1))
    write("CalibBoardReply", "too-short", case(0, b"", [0]))
    write("CalibBoardReply", "empty", case(0, b"", []))
    write("CalibBoardReply", "other-command", case(2, b"\x00", [1, 0]))
    write("CalibBoardReply", "read-eeprom", case(2, b"\x00", [2, 0] + list(range(16))))
    write("CalibBoardReply", "raw", case(128 + 3, b"\x00abc", [3, 0]))
    write("CalibBoardReply", "version", case(192, b"", [1, 0, 1]))
    write("CalibBoardReply", "version-too-long", case(192, b"", [1, 0, 1, 2]))


def card_simulator():
    def vendor(sub, args=b""):
        return bytes([100, 2 + len(args)]) + struct.pack(">H", sub) + args
    reads = [b"\x04\x03\x8e\x00\x01", b"\x04\xff\x99\x00\x01", b"\x03\x23\x28\x00\x06",
             b"\x04\x23\x28\x00\x30", b"\x01\x03\x90\x00\x01", b"\x02\x03\x8c\x00\x01",
             b"\x03\x23\xf0\x00\x14", b"\x04\xff\x78\x00\x18"]
    write("CardSimulator", "reads", pieces(*reads))
    write("CardSimulator", "writes", pieces(
        b"\x05\x03\x90\x00\x00", b"\x06\x02\x4e\x00\x1e", b"\x10\x23\xf0\x00\x02\x04ABCD",
        b"\x0f\x00\x00\x00\x0a\x02\xff\x03", b"\x10\x24\xb8\x00\x02\x04" + fbe(1.5),
        b"\x03\x23\xf0\x00\x02"))
    write("CardSimulator", "vendor-reads", pieces(
        vendor(8), vendor(22), vendor(9, b"\x00\x00"), vendor(10, b"\x00\x00\x00\x00"),
        vendor(16, b"\x01\x00"), vendor(17, b"\x01\x00\x00\x00"),
        vendor(19, b"SoftDogMinutes"), vendor(21, b"\x00"), vendor(21, b"\x01")))
    write("CardSimulator", "notes", pieces(
        vendor(13, b"\x00\x02"), vendor(14, b"hello"), vendor(14), vendor(11, b"\x00\x02"),
        vendor(12), vendor(12), vendor(15, b"\x0f")))
    write("CardSimulator", "config", pieces(
        vendor(1), vendor(2), vendor(2), vendor(3, b"\x01\x02\x03\x04"), vendor(4, b"abc"),
        vendor(4), vendor(23, b"\x00\x01\xc0\x00\x04"), vendor(24, b"\x00\x01\xc0\x00\x04\x00"),
        vendor(25)))
    write("CardSimulator", "calibration", pieces(
        vendor(5, b"\x00"), vendor(7, b"\x00" + fbe(1, 2)), vendor(6), vendor(20,
        b"\x0eSoftDogMinutes\x01" + fbe(3))))
    write("CardSimulator", "malformed", pieces(b"", b"\x03", b"\x03\x00", vendor(9)[:3],
                                              b"\x64\xff\x00\x09", b"\x10\x00\x00\x00\x7d\xfa"))


def bridge_framing():
    read = frame([1, 3, 0, 0, 0, 1])
    write_many = frame([1, 16, 0, 1, 0, 2, 4, 0, 1, 0, 2])
    vend = frame([1, 100, 5, 0, 22], b"abc")
    write("BridgeFraming", "whole-frames", pieces(read + write_many + vend))
    write("BridgeFraming", "byte-by-byte", pieces(*[[b] for b in read + vend]))
    write("BridgeFraming", "noise-before", pieces(b"\xff\x00\x13" + read, write_many[:5],
                                                  write_many[5:]))
    write("BridgeFraming", "other-function", pieces(frame([1, 43, 14, 1, 0]) + read))
    write("BridgeFraming", "long-garbage", pieces(b"\x01\x10" * 120, b"\x55" * 200, read))
    # Byte by byte, garbage whose function codes fix no length: every start is tried at every
    # length after each byte, which must stay cheap.
    rng = random.Random(7)
    garbage = []
    while len(garbage) < 16000:
        code = rng.randrange(256)
        if code not in (1, 2, 3, 4, 5, 6, 15, 16, 100):
            garbage += [1, code]
    write("BridgeFraming", "garbage-byte-by-byte", pieces(*[[b] for b in garbage]))


def telnet_session():
    IAC, DONT, DO, WONT, WILL, SB, SE = 255, 254, 253, 252, 251, 250, 240
    COM = 44
    baud = [IAC, SB, COM, 101, 0, 1, 0xC2, 0, IAC, SE]
    write("TelnetSession", "ser2net-opening", pieces(
        [IAC, WILL, 3, IAC, WILL, 1, IAC, DONT, 34, IAC, DO, COM, IAC, WILL, 0, IAC, DO, 0],
        baud, [1, 3, 2, 0, 1, 0xB9, 0x84]))
    write("TelnetSession", "escaped-data-split", pieces([1, 3, IAC], [IAC, 0, IAC], [IAC, IAC]))
    write("TelnetSession", "subnegotiation-byte-by-byte", pieces(*[[b] for b in baud + [9]]))
    write("TelnetSession", "notices-and-signature", pieces(
        [IAC, SB, COM, 107, 0x30, IAC, SE, IAC, SB, COM, 106, IAC, IAC, IAC, SE],
        [IAC, SB, COM, 0, IAC, SE, IAC, 241, 5]))
    write("TelnetSession", "refusals", pieces(
        [IAC, WILL, 1, IAC, DO, 24, IAC, WONT, 0, IAC, DONT, COM, IAC, DONT, 0]))
    write("TelnetSession", "cut-subnegotiation", pieces(
        [IAC, SB, COM, 101, 0, IAC, WILL, 1, 7], [IAC, SB] + [0] * 200, [0] * 100 + [IAC, SE]))


if __name__ == "__main__":
    datalink()
    function_layer()
    vendor_reply()
    config_restore()
    points_csv()
    traffic_log()
    calib_board()
    card_simulator()
    bridge_framing()
    telnet_session()

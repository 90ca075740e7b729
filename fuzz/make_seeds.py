#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/ from the example frames and files of the protocol and
file-format tables. Run it again after changing it; the seeds are committed."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def crc16(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def with_crc(frame):
    c = crc16(frame)
    return bytes(frame) + bytes([c & 0xFF, c >> 8])


def modbus_seeds():
    # Poll steps: function, register count.
    steps = [(4, 14), (4, 18), (4, 11), (3, 28), (3, 1)]
    for kind, (func, count) in enumerate(steps):
        regs = [(2200 + 7 * i) & 0xFFFF for i in range(count)]
        body = bytes([1, func, 2 * count]) + b"".join(struct.pack(">H", r) for r in regs)
        put("modbus_answer_fuzz", f"step{kind + 1}", bytes([kind]) + with_crc(body))
        put("modbus_answer_fuzz", f"step{kind + 1}_fixcrc", bytes([kind | 0x80]) + body)
        short = bytes([1, func, 2 * count - 2]) + body[3:-2]
        put("modbus_answer_fuzz", f"step{kind + 1}_short", bytes([kind]) + with_crc(short))
    # The write echo of "01 06 4E 20 00 01 5E E8" and an exception answer.
    put("modbus_answer_fuzz", "write_echo", bytes([5]) + bytes.fromhex("01064E2000015EE8"))
    put("modbus_answer_fuzz", "exception", bytes([5]) + with_crc(bytes.fromhex("018402")))
    put("modbus_answer_fuzz", "search", bytes([6]) + with_crc(bytes([1, 4, 28]) + bytes(28)))
    put("modbus_answer_fuzz", "empty_count", bytes([0]) + with_crc(bytes([1, 4, 0])))


def settings_seeds():
    full = (
        "[CommPort]\r\nComName=COM1\r\nBaudRate=9600\r\nStopBits=1\r\nReadIntervalTimeout=200\r\n"
        "AutoStart=0\r\nProtocol=0\r\n[CommMast]\r\nWaitTimer=15\r\nMaxReSend=2\r\nCommErrCnt=5\r\n"
        "CommLostCnt=10\r\n[Language]\r\nLanguage=1\r\n[DataLog]\r\nRecInterval=600\r\n"
    )
    put("settings_reader_fuzz", "full", full.encode())
    odd = (
        "\ufeff; comment\n[commport]\ncomname = /dev/ttyUSB0\nBAUDRATE=0x2580\nStopBits=3\n"
        "Protocol=260\nAutoStart=2\n[Other]\nKey=Value\n[DataLog]\nRecInterval=-5\n"
        "[CommMast]\nMaxReSend=$FF\nWaitTimer=abc\n"
    )
    put("settings_reader_fuzz", "odd", odd.encode("utf-8"))
    put("settings_reader_fuzz", "no_newline", b"[Language]\rLanguage=1")
    put("settings_reader_fuzz", "empty", b"")


def length_field(lenid):
    s = (lenid & 0xF) + ((lenid >> 4) & 0xF) + ((lenid >> 8) & 0xF)
    return "%X%03X" % ((-s) % 16, lenid & 0xFFF)


def ascii_answer(ver, addr, info, rtn=0):
    head = "~%02X%02X2A%02X%s" % (ver, addr, rtn, length_field(len(info))) + info
    chk = (-sum(head[1:].encode())) % 65536
    return (head + "%04X" % chk + "\r").encode()


def ascii_seeds():
    # Modular units: the frame sizes each INFO layout needs, with plausible values.
    for cmd, n in [(1, 64), (2, 40), (3, 56), (4, 164), (5, 48)]:
        info = ("5AF0" * 64)[: n - 18]
        put("ascii_answer_fuzz", f"v31_cmd{cmd}", bytes([cmd << 1]) + ascii_answer(0x31, 1, info))
    # Three-phase units: singles (220.0 = 0x435C0000, least significant byte first) and codes.
    floats = "00005C43" * 24
    codes = "01E0E0E0E0E0E0E1E1E1E1E0" * 8
    for cmd, info in [(1, floats), (2, codes), (3, codes), (4, floats), (5, floats)]:
        put("ascii_answer_fuzz", f"v11_cmd{cmd}",
            bytes([1 | cmd << 1 | 0x40]) + ascii_answer(0x11, 1, info))
    put("ascii_answer_fuzz", "rtn04", bytes([2]) + ascii_answer(0x31, 1, "", rtn=4))
    put("ascii_answer_fuzz", "no_info", bytes([2]) + ascii_answer(0x31, 1, ""))
    put("ascii_answer_fuzz", "lowercase_info", bytes([0x82]) + ascii_answer(0x31, 1, "5af0" * 10))
    put("ascii_answer_fuzz", "request_echo", bytes([2]) + b"~31012A420000FDA2\r")


def func_unit_seeds():
    for i, t in enumerate(["7e 31 0", "0x1F", "3G", "ABCDE", "00005C43", "FFD3", "~31012A420000FDA2"]):
        put("func_unit_fuzz", f"text{i}", bytes([2 + i]) + t.encode())


def stamp(y, mo, d, h=0, mi=0, s=0):
    import datetime
    delta = datetime.datetime(y, mo, d, h, mi, s) - datetime.datetime(1899, 12, 30)
    return delta.days + delta.seconds / 86400.0


def event_rec(t, addr, kind, code, alarm=255):
    return struct.pack("<dBBxxiB5x26s", t, addr, kind, code, alarm, bytes(range(26)))


def data_rec(t, addr, volts=220.0):
    block = struct.pack("<11diH2x2d", *([volts] * 6 + [35.0] * 3 + [50.0, 400.0]), 80, 120, 1.5, 2.5)
    return struct.pack("<dB7x", t, addr) + block


def log_seeds():
    t = stamp(2024, 3, 5, 10, 0, 0)
    events = (event_rec(t, 0, 0, 20) + event_rec(t, 3, 0, 22) + event_rec(t, 3, 1, 2)
              + event_rec(t, 3, 2, 5, 1) + event_rec(t, 3, 2, 5, 0) + event_rec(t, 7, 0, 18)
              + event_rec(stamp(2023, 12, 31, 23, 59, 59), 4, 1, 99) + event_rec(t, 0, 0, 21))
    # mode Date 2024-03-05, no address; mode All with address 3; mode Month in Chinese.
    put("event_log_query_fuzz", "date", bytes([3, 24, 3, 5, 0, 0]) + events)
    put("event_log_query_fuzz", "all_addr3", bytes([0, 24, 3, 5, 3, 0]) + events)
    put("event_log_query_fuzz", "month_cn_partial", bytes([2, 24, 3, 5, 0, 1]) + events + b"\x01" * 20)
    datas = b"".join(data_rec(t + i / 1440.0, i % 3 + 1, 200.0 + i) for i in range(12))
    put("data_log_query_fuzz", "month", bytes([0, 24, 2, 5, 0]) + datas)
    put("data_log_query_fuzz", "date_addr2", bytes([1, 24, 2, 5, 2]) + datas)
    put("data_log_query_fuzz", "partial", bytes([1, 24, 2, 5, 0]) + datas + b"\xff" * 50)


def equip_rec(node, addr, name):
    raw = name.encode("gbk")[:40]
    return bytes([node, addr]) + raw + b"\r" * (40 - len(raw))


def device_list_seeds():
    three = equip_rec(0, 1, "UPS-1") + equip_rec(3, 2, "机房A") + equip_rec(6, 252, "x" * 40)
    put("device_list_fuzz", "three", three)
    put("device_list_fuzz", "partial", three + equip_rec(9, 4, "cut")[:20])
    put("device_list_fuzz", "bad_addresses", equip_rec(0, 0, "zero") + equip_rec(3, 253, "high")
        + equip_rec(6, 1, "one") + equip_rec(9, 1, "again"))
    put("device_list_fuzz", "full", b"".join(equip_rec(i * 3 & 255, i % 252 + 1, "U%d" % i) for i in range(253)))


if __name__ == "__main__":
    device_list_seeds()
    log_seeds()
    ascii_seeds()
    func_unit_seeds()
    modbus_seeds()
    settings_seeds()

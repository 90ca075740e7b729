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


if __name__ == "__main__":
    modbus_seeds()
    settings_seeds()

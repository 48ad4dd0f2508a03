#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

The seeds are small inputs that already reach deep into each target: whole
good frames, the unit's usual answers, responses of both layouts, settings
records and program files.  Run it again after changing a seed here; the
files it writes are kept in the repository.
"""
import os
import struct

DLE, STX, ETX, ENQ, ACK, NAK = 0x10, 0x02, 0x03, 0x05, 0x06, 0x15
ESC = 0xA5
TIMEOUT, READ_ERROR, FAIL_WRITE, RELEASE, NOTHING, FAIL_POST, GRANT = (
    bytes([ESC, n]) for n in range(1, 8))
HERE = os.path.dirname(os.path.abspath(__file__))


def crc16(data):
    crc = 0
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if crc & 1 else crc >> 1
    return crc


def frame(text):
    covered = struct.pack(">H", len(text)) + bytes(text) + bytes([DLE, ETX])
    return bytes([DLE, STX]) + covered + struct.pack("<H", crc16(covered))


def escaped(data):
    return bytes(data).replace(bytes([ESC]), bytes([ESC, 0]))


def pair(control):
    return bytes([DLE, control])


assert frame(b"abc") == bytes.fromhex("1002000361626310033b4b")

STATUS_BASIC = bytes([0xE0, 0x01, 0x00, 0x00, 0x00]) + bytes(range(0x30, 0x30 + 55)) + b"\x1c"
STATUS_ENHANCED = bytes([0xE0, 0x01, 0xFF, 0x00, 0x00, 0xD0]) + bytes((i * 7) & 0xFF for i in range(208)) + b"\x1c"
COUNT_ENHANCED = bytes([0xE0, 0x03, 0xFF, 0x00, 0x00, 0xE0]) + bytes(0xB1 if i % 2 else 0x30 for i in range(224)) + b"\x1c"
NEGATIVE = bytes([0xF0, 0x03, 0x00, 0xA1, 0x00])


def receive_path():
    good = pair(ENQ) + escaped(frame(b"abc"))
    bad = bytearray(frame(b"abc"))
    bad[-1] ^= 0xFF
    return {
        "good_frame": good,
        "bad_then_good": pair(ENQ) + escaped(bad) + escaped(frame(b"abc")),
        "bid_then_silence": pair(ENQ) + TIMEOUT + TIMEOUT,
        "dle_in_text": pair(ENQ) + escaped(frame(bytes([0x60, DLE, DLE, 0x1C]))),
        "eleven_frames": (pair(ENQ) + escaped(frame(b"abc"))) * 11 + RELEASE * 3,
        "bid_repeated": pair(ENQ) + pair(ENQ) + escaped(frame(STATUS_BASIC)),
        "read_error_in_frame": pair(ENQ) + escaped(frame(b"abcdef")[:6]) + READ_ERROR
        + escaped(frame(b"abcdef")),
        "length_zero": pair(ENQ) + bytes([DLE, STX, 0, 0, DLE, ETX, 0, 0]),
        "length_too_long": pair(ENQ) + bytes([DLE, STX, 0x05, 0xD5]) + TIMEOUT,
        "failed_answers": pair(ENQ) + FAIL_WRITE + escaped(frame(b"abc")) + FAIL_POST
        + escaped(frame(b"abc")),
        "contention_grant": GRANT + escaped(frame(STATUS_ENHANCED)),
    }


def send_exchange():
    head = struct.pack(">H", 3)
    ok = pair(ACK) + pair(ACK)
    status_response = pair(ENQ) + escaped(frame(STATUS_BASIC))
    return {
        "acknowledged": head + ok,
        "enq_as_ack": head + pair(ACK) + pair(ENQ),
        "nak_frames": head + pair(ACK) + pair(NAK) + pair(NAK) + pair(ACK),
        "nak_bids": head + pair(NAK) * 3,
        "silence": head + TIMEOUT * 3,
        "noise": head + b"\x01\x02\x03" + pair(ACK) + b"\x7f" + pair(ACK),
        "contention": head + pair(ENQ) + status_response + pair(ACK) + pair(ACK),
        "read_errors": head + READ_ERROR + pair(ACK) + READ_ERROR + pair(ACK),
        "mixed_retries": head + pair(ACK) + TIMEOUT + TIMEOUT + pair(NAK) + pair(NAK) + pair(ACK),
        "three_requests": (head + ok) * 3,
        "long_text": struct.pack(">H", 1488) + ok,
    }


def response_decoders():
    return {
        "status_basic": STATUS_BASIC,
        "status_enhanced": STATUS_ENHANCED,
        "count_enhanced": COUNT_ENHANCED,
        "negative": NEGATIVE,
        "reset_basic": bytes([0xE0, 0x02, 0x00]) + bytes(range(200)),
        "device_info": bytes([0xE0, 0x0E, 0xFF]) + bytes((i * 13) & 0xFF for i in range(400)),
        "diagnosis": bytes([0xE0, 0x0F, 0xFF]) + bytes(0x30 + i % 10 for i in range(300)),
        "empty": b"",
    }


def settings_file():
    return {
        "first_items": bytes(37),
        "no_selection": bytes([255] * 37),
        "mixed": bytes((i * 5) % 40 for i in range(37)),
        "short": bytes(36),
        "long": bytes(range(40)),
    }


def download():
    def program(size):
        return bytes((i * 29 + i // 509) & 0xFF for i in range(size))
    return {
        "empty": b"",
        "short_id": program(40),
        "one_frame": program(1214),
        "three_frames": program(2500),
    }


def main():
    for target, seeds in [("receive_path", receive_path()), ("send_exchange", send_exchange()),
                          ("response_decoders", response_decoders()),
                          ("settings_file", settings_file()), ("download", download())]:
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as out:
                out.write(data)


if __name__ == "__main__":
    main()

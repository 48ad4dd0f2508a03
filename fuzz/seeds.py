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


def record(kind, device, micros, payload):
    body = struct.pack("<Q", micros) + payload
    return struct.pack("<BBH", kind, device, len(body)) + body


def capture(*records, version=1):
    return b"RSLCAP" + struct.pack("<H", version) + b"".join(records)


def clock(device, micros, wall, origin=b"rslink"):
    return record(1, device, micros, struct.pack("<q", wall) + origin)


def com_open(micros, path=b"/dev/ttyUSB0"):
    return record(2, 0, micros, struct.pack("<IBBBB", 9600, 8, 2, 0, 1) + path)


def burst(device, micros, direction, data):
    return record(4, device, micros, bytes([direction]) + bytes(data))


def capture_reader():
    status = frame([0x00, 0x01, 0x1C])
    response = frame([0xE0, 0x01, 0x00, 0x00, 0x00, 0x2A, 0x3C] + [0] * 20)
    bad = response[:-1] + bytes([response[-1] ^ 0x5A])
    session = [clock(0, 0, 1765200000000000), com_open(10),
               burst(0, 500000, 0, pair(ENQ)), burst(0, 500100, 1, pair(ACK)),
               burst(0, 500200, 0, status), burst(0, 500300, 1, pair(NAK)),
               burst(0, 500400, 0, status), burst(0, 500500, 1, pair(ACK) + pair(ENQ)),
               burst(0, 500600, 0, pair(ACK)), burst(0, 500700, 1, bad),
               burst(0, 500800, 0, pair(NAK)), burst(0, 500900, 1, response),
               burst(0, 501000, 0, pair(ACK)), record(3, 0, 600000, b"")]
    whole = capture(*session)
    return {
        "session": whole,
        "two_devices": capture(clock(1, 0, 1765200000000000, b"tap A"),
                               clock(2, 7, 1765200000000300, b"tap B"),
                               burst(1, 100, 0, pair(ENQ)), burst(2, 90, 1, pair(ACK)),
                               burst(1, 300, 0, status[:5]), burst(1, 310, 0, status[5:]),
                               record(0x7F, 0, 400, b"unknown kind")),
        "cut_short": whole[:-5],
        "newer_version": capture(*session[:3], version=2),
        "noise": capture(clock(0, 0, 0), burst(0, 1, 1, b"\x41\x42" + pair(ACK) + b"\x10\x41")),
    }


def trace_decoder():
    return {
        "status_check": (b"COM OPEN Completed.\r\n"
                         b"SEND[09:05:01:007]>00 01 1C \r\nSend Normal End\r\n"
                         b"RECV[09:05:01:120]>E0 01 00 00 00 2A 3C 35 32 12 34 56 05 42 18 26 21 04 "
                         b"88 14 02 01 E0 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 \r\n"
                         b"Receive Normal End\r\n"),
        "enhanced": (b"SEND[hh:mm:ss:mmm]>60 01 FF 00 00 01 00 1C \n"
                     b"RECV[hh:mm:ss:mmm]>E0 01 FF 00 00 55 00 00 00 00 00 00 12 34 56 \n"),
        "negative": b"RECV[10:00:00:000]>F0 12 00 A1 00 \n",
        "bad_hex": b"SEND[10:00:00:000]>00 01 1C\nRECV[10:00:00:100]>E0 XY\n",
        "no_time": b"RECV[10:00]>E0 01\n",
    }


IAC, SB, SE, WILL, WONT, DO, DONT = 0xFF, 0xFA, 0xF0, 0xFB, 0xFC, 0xFD, 0xFE
BINARY, ECHO, SGA, COM_PORT = 0, 1, 3, 44


def option(verb, opt):
    return bytes([IAC, verb, opt])


def com_port(command, value=b""):
    return bytes([IAC, SB, COM_PORT, command]) + value.replace(b"\xff", b"\xff\xff") + bytes([IAC, SE])


def telnet(stream, seed=7, end_at=0xFF):
    """The cut seed, where the caller stops waiting (0xFF: never), the server's bytes."""
    return bytes([seed, end_at]) + stream


def telnet_codec():
    agree = option(DO, COM_PORT) + option(DO, BINARY) + option(WILL, BINARY)
    answers = (com_port(101, struct.pack(">I", 9600)) + com_port(102, b"\x08")
               + com_port(103, b"\x03") + com_port(104, b"\x01") + com_port(105, b"\x01")
               + com_port(112, b"\x03"))
    status = frame([0xE0, 0x01, 0xFF, 0x00, 0x00, 0x0D, 0x00, 0xFF])
    return {
        "negotiation": telnet(agree + option(WILL, SGA) + option(DO, SGA) + answers + status),
        "settings_refused": telnet(agree + com_port(103, b"\x01") + com_port(104, b"\x02")
                                   + com_port(101, struct.pack(">I", 19200))),
        "late_answers": telnet(agree + com_port(101, struct.pack(">I", 9600))
                               + com_port(102, b"\x07") + com_port(103, b"\x00"), end_at=128),
        "other_options": telnet(option(WILL, ECHO) + option(DO, 24) + option(WILL, 31)
                                + bytes([IAC, SB, 24, 1, IAC, SE]) + option(WONT, ECHO) + agree),
        "not_binary": telnet(option(DO, COM_PORT) + option(DONT, BINARY) + option(WONT, BINARY)
                             + b"A\r\x00B\r\nC\r" + com_port(106, b"\x60") + b"\x00D"),
        "line_state": telnet(agree + com_port(106, b"\x08") + com_port(106, b"\x61")
                             + com_port(107, b"\xff") + com_port(108) + com_port(109)
                             + com_port(100)),
        "refused_com_port": telnet(option(DONT, COM_PORT) + option(DO, COM_PORT) + b"\xff\xffE"),
        "broken_subnegotiation": telnet(agree + bytes([IAC, SB, COM_PORT, 102, IAC, WILL, ECHO])
                                        + bytes([IAC, SB, COM_PORT, 100]) + b"x" * 40
                                        + bytes([IAC, SE, IAC, 0xF1, IAC, 0x20]) + b"F", seed=200),
    }


def main():
    for target, seeds in [("receive_path", receive_path()), ("send_exchange", send_exchange()),
                          ("response_decoders", response_decoders()),
                          ("settings_file", settings_file()), ("download", download()),
                          ("capture_reader", capture_reader()), ("trace_decoder", trace_decoder()),
                          ("telnet_codec", telnet_codec())]:
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as out:
                out.write(data)


if __name__ == "__main__":
    main()

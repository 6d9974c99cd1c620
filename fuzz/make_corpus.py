#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (fuzz/corpus/TARGET/) from plowsim traces.

  fuzz/make_corpus.py LOGGING_TRACE FILES_TRACE CARD_TRACE LOG DAT [--only TARGET,...]

LOGGING_TRACE: plowsim's trace of a headless logging session (DAT file and raw files on, the
raw measurement stream of plowsim --q0x); FILES_TRACE: of a --get-files run against plowsim
--files; CARD_TRACE: of a --card-script run; LOG and DAT: the text log and the DAT file that
logging session wrote. The TX lines are the receiver's frames; they are framed again (DLE
stuffing) as on the wire, which is also what a raw packet log holds. The J1939 and settings seeds
are made here. Seeds are small: a few frames each. --only writes just the targets named.
"""
import hashlib
import os
import struct
import sys

DLE, ETX = 0x10, 0x03
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def frame(ident, payload):
    out = bytearray([DLE, ident])
    for b in payload:
        out.append(b)
        if b == DLE:
            out.append(DLE)
    out += bytes([DLE, ETX])
    return bytes(out)


def tx_frames(path):
    frames = []
    with open(path, encoding="latin-1") as f:
        for line in f:
            parts = line.split()
            if len(parts) >= 2 and parts[0] == "TX":
                b = [int(x, 16) for x in parts[1:]]
                frames.append((b[0], bytes(b[1:])))
    return frames


def tx_texts(path):
    texts = []
    with open(path, encoding="latin-1") as f:
        for line in f:
            if line.startswith('TX-TEXT "'):
                t = line[len('TX-TEXT "'):].rstrip("\n")[:-1]
                texts.append(t.encode("latin-1").decode("unicode_escape").encode("latin-1"))
    return texts


def write(target, seeds):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    for old in os.listdir(folder):
        os.remove(os.path.join(folder, old))
    for seed in seeds:
        name = hashlib.sha1(seed).hexdigest()[:16]
        with open(os.path.join(folder, name), "wb") as f:
            f.write(seed)


def even(seed):
    # The packet targets repair checksum trailers only for inputs of even size.
    return seed if len(seed) % 2 == 0 else seed + b"\x00"


def one_per_kind(frames, limit):
    seen, seeds = set(), []
    for ident, payload in frames:
        key = (ident, payload[:1] if ident == 0x8F else b"")
        if key in seen:
            continue
        seen.add(key)
        seeds.append(even(frame(ident, payload)))
    return seeds[:limit]


def streams(frames, count, per):
    step = max(1, len(frames) // count)
    seeds = []
    for start in range(0, len(frames), step):
        chunk = frames[start:start + per]
        seeds.append(even(b"".join(frame(i, p) for i, p in chunk)))
        if len(seeds) == count:
            break
    return seeds


def stream_message(body, kind=1):
    return struct.pack(">IIHHI", 0xA3A58329, 0x86753001, kind, len(body), 0x5C5A7CD6) + body


def j1939_id(pgn, destination, source, priority=6):
    pf = (pgn >> 8) & 0xFF
    if pf < 240:
        pgn = (pgn & 0x3FF00) | destination
    return (priority << 26) | (pgn << 8) | source


def can_record(pause, ident, data):
    data = bytes(data)
    return bytes([pause]) + struct.pack(">I", ident) + bytes([len(data)]) + data.ljust(8, b"\xff")


def j1939_seeds(frames):
    ours, peer = 249, 0x80
    name = bytes([1, 0, 0, 0, 0, 0, 0, 0])
    claim = can_record(0, j1939_id(0xEE00, 255, peer), name)
    seeds = []
    # Packets in proprietary-A bodies (command 0x08): short ones in one frame, longer ones by
    # the transport protocol to our address (RTS, data, ...), and one broadcast (BAM).
    for ident, payload in frames[:3]:
        stuffed = frame(ident, payload)[2:-2]
        body = bytes([0x08, len(stuffed) & 0xFF, len(stuffed) >> 8, ident]) + stuffed
        recs = [claim]
        if len(body) <= 8:
            recs.append(can_record(1, j1939_id(0xEF00, ours, peer), body))
        else:
            packets = (len(body) + 6) // 7
            recs.append(can_record(1, j1939_id(0xEC00, ours, peer),
                                   [0x10, len(body) & 0xFF, len(body) >> 8, packets, 0xFF, 0x00, 0xEF, 0x00]))
            for n in range(packets):
                recs.append(can_record(1, j1939_id(0xEB00, ours, peer),
                                       bytes([n + 1]) + body[n * 7:n * 7 + 7].ljust(7, b"\xff")))
        seeds.append(b"".join(recs))
    text = b"1*QRXID=42*Tester*"
    packets = (len(text) + 6) // 7
    recs = [claim, can_record(1, j1939_id(0xEC00, 255, peer),
                              [0x20, len(text), 0, packets, 0xFF, 0xDA, 0xFE, 0x00])]
    for n in range(packets):
        recs.append(can_record(5, j1939_id(0xEB00, 255, peer), bytes([n + 1]) + text[n * 7:n * 7 + 7].ljust(7, b"\xff")))
    seeds.append(b"".join(recs))
    # A request for our software identification, then clear to send for our answer.
    seeds.append(b"".join([claim, can_record(1, j1939_id(0xEA00, ours, peer), [0xDA, 0xFE, 0x00]),
                           can_record(1, j1939_id(0xEC00, ours, peer), [0x11, 2, 1, 0xFF, 0xFF, 0x00, 0xEF, 0x00]),
                           can_record(1, j1939_id(0xEC00, ours, peer), [0x13, 20, 0, 3, 0xFF, 0x00, 0xEF, 0x00])]))
    # A contender for our address, and an echo command.
    seeds.append(b"".join([can_record(0, j1939_id(0xEE00, 255, ours), [0] * 8),
                           can_record(1, j1939_id(0xEF00, ours, peer), [0x0B, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF])]))
    return seeds


SETTINGS = [
    b"[Connect]\nHighSpeedKavo=1\nPort=2\nBaudRate=2\nParity=0\nserialPortOrCanBus=0\nm_LogData=1\n"
    b"m_LoggingFolder=/tmp/logs\nm_LoggingPrefix=A_\nm_logOptions=529\nRLI_Ena=Y\nRLI_Folder=/tmp/card\n"
    b"ServerAddress=127.0.0.1\nServerPort=5017\n",
    b"; hand edited\n[connect]\n  port = 4 \nm_logOptions=0x4000\n[SerialPorts]\nCOM1=/dev/ttyUSB0\nCOM3=/dev/pts/7\n"
    b"[PlowviewArchiveSettings]\nm_WriteDatFile=1\nm_FTPVisable=1\nm_FtpServer=ftp://host/dir\nm_ZipQ0xFiles=0\n",
    b"[Connect]\r\nPort=-1\r\nBaudRate=99999999999\r\n[Connect]\r\nPort=3\r\n#x=y\r\n[Other]\r\nkey=a=b=c\r\n",
]


def log_seeds(path):
    with open(path, "rb") as f:
        lines = f.read().split(b"\n")
    # The header and the set-up, then slices from further on; one with its last line cut short.
    seeds = [b"\n".join(lines[:60]) + b"\n"]
    for start in range(60, len(lines), max(1, len(lines) // 4)):
        seeds.append(b"\n".join(lines[:6] + lines[start:start + 80]) + b"\n")
    seeds.append(seeds[-1][:-25])
    return seeds[:6]


def dat_records(data):
    at, records = 0, []
    while at + 4 <= len(data) and data[at] == 0x74:
        length = data[at + 1] | (data[at + 2] << 8 if data[at + 3] == 17 else 0)
        if length < 4 or at + length > len(data):
            break
        records.append(data[at:at + length])
        at += length
    return records


def dat_seeds(path):
    with open(path, "rb") as f:
        records = dat_records(f.read())
    head = b"".join(records[:12])
    # The file's start; the same with a record cut off at its end; a type 17 record cut in its
    # header; and bytes that are no records at all.
    seeds = [head, head + records[12][:len(records[12]) // 2] if len(records) > 12 else head[:-7]]
    seventeen = [r for r in records if r[3] == 17]
    if seventeen:
        seeds.append(head + seventeen[0][:3])
    seeds.append(b"not a DAT file\n")
    return seeds


def main():
    only = None
    args = sys.argv[1:]
    if "--only" in args:
        at = args.index("--only")
        only = set(args[at + 1].split(","))
        del args[at:at + 2]
    if len(args) != 5:
        sys.exit(__doc__)

    def wanted(target):
        return only is None or target in only

    logging, files, card = (tx_frames(p) for p in args[:3])
    files = [(i, p) for i, p in files if i == 0x8F and p[:2] == b"\x93\x15"]
    card = [(i, p) for i, p in card if i == 0x8F and p[:1] == b"\x8c" and 0x10 <= p[1] <= 0x1B]
    texts = tx_texts(args[0])
    q0x = [(i, p) for i, p in logging if i == 0x8F and p[:2] == b"\x93\x14"]

    def emit(target, seeds):
        if wanted(target):
            write(target, seeds)

    emit("logger_dispatch", one_per_kind(logging, 90) + streams(logging, 6, 25))
    emit("kavo_parser", streams(logging, 6, 20) + [b"\x10\x10\x10\x03" + frame(0x41, b"\x10" * 10) + b"\x55\x10\x03"])
    emit("dat_writer", streams(logging, 4, 200))
    emit("stream_message",
          [bytes([255]) + b"".join(stream_message(frame(i, p)) for i, p in logging[k:k + 8]) for k in (0, 200, 400)] +
          [bytes([7]) + stream_message(b"\x00" * 12, 2) + stream_message(b"\x00" * 4, 3) +
           stream_message(frame(*logging[0]))])
    emit("remote_file_server", [even(b"".join(frame(i, p) for i, p in card[k:k + 8])) for k in range(0, len(card), 8)]
          if card else [])
    emit("file_xfer_replies", [even(b"".join(frame(i, p) for i, p in files))] +
          [even(b"".join(frame(i, p) for i, p in files[k:k + 6])) for k in range(0, len(files), 6)])
    emit("port_report", [t[len(b"DUCT,"):] if t.startswith(b"DUCT,") else t for t in texts[:4]] +
          [b"Brisk Mote,PORT(1),38400,9600,8,1,O,N,FW,4.02,HW,2.10,44,PROTOCOLS,KAVO(Y),NMEA(N)\x03"])
    emit("j1939_stack", j1939_seeds(logging))
    emit("settings_file", SETTINGS)
    # The first byte picks the reader's chunk, the player's speed and moves; the rest is the file.
    emit("raw_packet_log", [bytes([c]) + b"".join(frame(i, p) for i, p in logging[k:k + 60])
                             for c, k in ((0x00, 0), (0x2D, 150), (0xFE, 400))])
    emit("q0x_stream", [even(b"".join(frame(i, p) for i, p in q0x[:6]))] +
          [even(b"".join(frame(i, p) for i, p in logging[:40]) + b"".join(frame(i, p) for i, p in q0x[:3]))]
          if q0x else [])
    emit("plowplot_log", log_seeds(args[3]))
    emit("dat_append", dat_seeds(args[4]))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the seed corpora of tests/fuzz/corpus/<target>/ from the protocol's own messages: the
board's replies of each dialogue, the tool's datagrams and bootloader headers. Findings of the
fuzzers are kept beside them as finding-* files, which this script leaves alone."""
import pathlib
import struct

ROOT = pathlib.Path(__file__).resolve().parent / "corpus"

VERSION = b"<VERSION> Talvium 5.2 on PLN7/ZE (simulated)"
ERASE = [b"<ERASE_START>", b"<ERASE_OK>", b"<ERASE_ERROR> 17", b"<ERASE_ERROR>-4",
         b"<NO_SYS_AREA>", b"<NO_RESERVE>", b"<NO_FLASH_FILE_SYSTEM>",
         b"<FILE_SYSTEM_PRESENCE_ERROR>", b"still erasing\n"]
COMPLETION = [b"<CHECK_OK>", b"<CHECK_ERROR>", b"<SIZE_ERROR>", b"<SIZE_ERROR><EXPANDED> 1048576",
              b"<UPDATE_OK>", b"<UPDATE_ERROR> 5", b"<FILE_SYSTEM_PRESENCE_ERROR>",
              b"<SYSTEM_FILE_PRESENCE_ERROR>", b"<DEST_DIFFER_QUERY> PLN7/ZE|KRD/4Q", b"<NACK>",
              b"<UPDATING_FLASH>", b"<ACK>"]
CONFIG = [b"<FLASH_CONFIG_START>", b"<FLASH_CONFIG_DATA> 0x00000000 0x0003FFFF 7",
          b"<FLASH_CONFIG_DATA> 0x00040000 0x0005FFFF 6",
          b"<FLASH_CONFIG_DATA> 0x00060000 0x0035FFFF 3",
          b"<FLASH_CONFIG_DATA> 0x00360000 0x00FFFFFF 0", b"<FLASH_CONFIG_DATA> 0 3ffff -1",
          b"<FLASH_CONFIG_END> 16", b"<FLASH_CONFIG_END> 0.5"]
REPLIES = [VERSION, b"<OK_LOAD>"] + ERASE + COMPLETION + CONFIG + [b"A" * 128]


def rom_header(board, zero_at=60):
    text = board + b", Rel. B, ROM-Version: 2.3 (simulated)"
    return (text + b"\0" * 128)[:zero_at] + b"\0" * (128 - zero_at) + b"\xff" * 32


def end_load(checksum):
    text = b"<END_LOAD> %d" % struct.unpack("<i", struct.pack("<I", checksum))[0]
    return text + (b" " if len(text) % 2 == 0 else b"") + b"\0"


def datagrams(settings, *messages, peer=0):
    out = bytes([settings])
    for message in messages:
        assert len(message) < 128
        out += bytes([len(message) | (peer << 7)]) + message
    return out


SEEDS = {
    "has_tag": REPLIES,
    "read_int_at": [bytes([14]) + b"<ERASE_ERROR> 17", bytes([15]) + b"<UPDATE_ERROR> -3",
                    bytes([22]) + b"<SIZE_ERROR><EXPANDED> 1048576",
                    bytes([14]) + b"<ERASE_ERROR>x99999999999", bytes([0]) + b" \t+2147483648"],
    "escape_board_text": [VERSION[10:], b"line\r\n\ttab", b"\x1b[31mred\x7f\x00end",
                          b"\xc2\x9b2J \xc2\x85 \xc2\xa0 \x9b\xc4\x85 end\xc2"],
    "format_version_line": [VERSION, b"<VERSION> PLN7 bootloader", b"<VERSION>"],
    "find_erase_verdict": ERASE,
    "classify_completion_reply": COMPLETION,
    "available_space": [b" 1048576", b"\t-5", b"", b"99999999999"],
    "update_error_code": [b" 5", b"x-17", b"", b" 2147483648"],
    "split_board_types": [b"<DEST_DIFFER_QUERY> PLN7/ZE|KRD/4Q", b"<DEST_DIFFER_QUERY> a|b|c",
                          b"<DEST_DIFFER_QUERY> none", b"<DEST_DIFFER_QUERY> \x1b|\x07"],
    "parse_area_reply": CONFIG + [struct.pack("<IIiB", 0x40000, 0x5FFFF, 6, 0),
                                  struct.pack("<IIiB", 0, 0xFFFFFFFF, 8, 1)],
    "read_total_size": [b"16", b"0.5", b"1.5", b"1e999", b"0.3", b"-nan"],
    "image_checksum": [bytes([255]) + bytes(range(256)) * 5, bytes([0]) + b"BOOT\x01\x02\x03",
                       bytes([1]) + rom_header(b"PLN7/ZE")],
    "has_rom_signature": [rom_header(b"PLN7/ZE"), rom_header(b"KRD/4Q", 10), b"BOOT" + bytes(124),
                          b"PLN7/ZE, Rel. A, ROM-Version:"],
    "parse_end_load": [end_load(0), end_load(0xFFFFFFFF), end_load(123456789),
                       end_load(0x80000000), b"<END_LOAD> 12\0\0"],
    "rom_board_type": [rom_header(b"PLN7/ZE"), rom_header(b"KRD/4Q"), b"x, Rel.", b", Rel. B"],
    "printable_datagram": [bytes([64]) + VERSION, bytes([4]) + b"<ACK>", bytes([64]) + end_load(7),
                           bytes([255]) + b"\\\x00\xff"],
    "on_datagram": [
        datagrams(0, b"<VERSION>", b"<VERSION>"),
        datagrams(1, b"<VERSION>"),
        datagrams(0, b"<VERSION>", b"<ERASESYS>", b"<ERASE>", b"<ERASEDISK>", b"<ERASEUSER>"),
        datagrams(2, b"<GETCONFIG>", b"<ERASERESERVE>", b"<ERASEREGISTRY>"),
        datagrams(0, b"<UPDATESYS>", b"A" * 100, b"B" * 27, end_load(0)),
        datagrams(8, b"<UPDATERESERVE>", b"A" * 100, b"A" * 100, b"<NACK>", end_load(1)),
        datagrams(4, b"<FORMATDISK>", b"xyz", end_load(2), b"<GETCONFIG>"),
        datagrams(0, b"<UPDATEROM>", rom_header(b"KRD/4Q")[:127], b"<CONTINUE>\0"),
        datagrams(64, b"<UPDATEROM>", rom_header(b"KRD/4Q")[:127], b"<BREAK>\0"),
    ],
}

for target, seeds in SEEDS.items():
    folder = ROOT / target
    folder.mkdir(parents=True, exist_ok=True)
    for index, seed in enumerate(seeds):
        (folder / f"seed-{index:02d}").write_bytes(seed)

#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/.

Each seed is one of the cases the tests know by name (an erased board, a header with size 0 in
the last slot, a DOL file that fills one slot exactly...), in the input format that the head
comment of each target describes. Run it after changing a format:
    python3 fuzz/make_seeds.py
"""
import os
import shutil
import struct

CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def put(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as seed:
        seed.write(data)


# ---------------------------------------------------------------- catalogue_scan_fuzz
BIOS, ELF, DOL, BIN = 0, 1, 2, 3  # known magics, by the number that picks them
NO_FAULT = b"\0\0"
REFUSED_FETCH, FAILED_WRITE, UNPLUG = 1, 2, 3


def board(name, records, fault=NO_FAULT):
    put("catalogue_scan_fuzz", name, fault + records)


def erased(behind=0):
    return bytes([behind & 0xFC])


def header(magic, size, name_fill=0x41, behind=0):
    magic_bytes = bytes([magic, 0, 0, 0]) if isinstance(magic, int) else magic
    return bytes([1 | (behind & 0xFC)]) + magic_bytes + struct.pack("<I", size) + bytes([name_fill])


def one_byte(place, value):
    return bytes([2, place, value])


def raw(first_256):
    return bytes([3]) + first_256


def catalogue_seeds():
    board("erased_board", b"")
    board("bios_and_elf", header(BIOS, 131072) + erased() + header(ELF, 65536))
    board("size_zero_two_slots", erased() * 5 + header(DOL, 0) + header(BIN, 65536))
    board("oversize_at_slot_30", erased() * 30 + header(BIOS, 196608))
    board("size_zero_at_slot_31", erased() * 31 + header(ELF, 0))
    board("corrupted_with_size", header(b"ELF!", 131072) + header(ELF, 1, behind=0x40))
    board("one_byte_not_erased", one_byte(255, 0xFE) + erased(0x80) + one_byte(0, 0x28))
    bios = b"(C) " + b"raw header".ljust(244, b"\0") + bytes(4) + struct.pack(">I", 131071)
    board("raw_bios_rounded_up", raw(bios) + erased() + raw(bios[:4] + b"\xff" * 252))
    board("full_of_one_slot_images", header(ELF, 1) * 32)
    board("refused_fetch_in_a_header", header(BIOS, 131072) + erased() + header(ELF, 65536),
          fault=bytes([REFUSED_FETCH, 3]))
    board("failed_write_mid_scan", header(ELF, 65536) * 4, fault=bytes([FAILED_WRITE, 10]))
    board("unplugged_mid_scan", header(DOL, 0) + erased() * 3 + header(BIN, 65536),
          fault=bytes([UNPLUG, 20]))


# ---------------------------------------------------------------- input_reports_fuzz
def report(position, text, report_id=0):
    return bytes([report_id, position & 0xFF]) + text.encode().ljust(7, b"\0")[:7]


def input_report_seeds():
    put("input_reports_fuzz", "two_lines",
        report(0, "kelm fl") + report(7, "ash v1.") + report(14, "1   ") +
        report(18, "slot 0:") + report(25, " BIOS  ") + report(32, "ok  "))
    put("input_reports_fuzz", "line_ends",
        report(29, "ABCDEFG") + report(30, "HIJKLMN") + report(35, "OPQRSTU") +
        report(36, "VWXYZ!!"))
    put("input_reports_fuzz", "outside_the_lines",
        report(37, "PAST...") + report(0x7F, "HIGHEST") + report(0xFF, "MINUS1.") +
        report(0x80, "LOWEST.", report_id=5))
    put("input_reports_fuzz", "second_line_only", report(18, "SECOND."))


# ---------------------------------------------------------------- image_write_fuzz
GCB, DOL_FILTER, ELF_FILTER, VGC = 1, 2, 3, 4  # filter indexes of the open-file dialog
LEFTOVERS, LONG, CHANGE = 1, 2, 4


def image(name, filter_index, pick=0, taken=0, flags=0, length=0, name_length=8, change=0,
          payload=b""):
    data = (bytes([filter_index - 1, pick]) + struct.pack("<I", taken) + bytes([flags]) +
            struct.pack("<I", length)[:3] + bytes([name_length - 1, change & 0xFF]) + payload)
    put("image_write_fuzz", name, data)


def image_write_seeds():
    image("dol_100_bytes", DOL_FILTER, payload=bytes(range(100)))
    image("dol_fills_one_slot", DOL_FILTER, flags=LONG, length=65280, payload=b"DOLDATA")
    image("dol_one_byte_more", DOL_FILTER, pick=3, flags=LONG | LEFTOVERS, length=65281,
          payload=b"\x01\x02\x03")
    image("elf_empty", ELF_FILTER, pick=31)
    image("vgc_one_chunk", VGC, flags=LONG, length=30720, payload=b"VGC\0\0\0")
    image("vgc_encrypted", VGC, payload=b"VGC\0\x02" + bytes(27))
    image("gcb_backup_two_slots", GCB, pick=1, flags=LONG, length=131072,
          payload=b"ELF\0backup")
    image("gcb_header_only", GCB, flags=LONG, length=256, payload=b"(C) bios")
    image("gcb_too_small", GCB, payload=b"(C) short")
    image("gcb_unknown_magic", GCB, flags=LONG, length=70000, payload=b"ABCD")
    image("dol_whole_flash", DOL_FILTER, flags=LONG, length=2096896, payload=b"\x55\xaa")
    image("dol_one_byte_too_many", DOL_FILTER, flags=LONG, length=2096897, payload=b"\x55\xaa")
    image("dol_between_used", DOL_FILTER, taken=0xFFFFFF3F, flags=LONG, length=100000,
          payload=b"x")
    image("vgc_odd_slot_free", VGC, taken=0x0000000F, flags=LONG, length=100000, payload=b"\0")
    image("elf_long_path", ELF_FILTER, name_length=230, payload=b"elf")
    image("elf_path_fills_name", ELF_FILTER, name_length=220, payload=b"elf")
    image("dol_grown_past_its_run", DOL_FILTER, flags=LONG | CHANGE, length=65280, change=1,
          payload=b"grow")
    image("elf_grown_within_its_run", ELF_FILTER, flags=LONG | CHANGE, length=1000, change=5,
          payload=b"grow")
    image("gcb_shrunk_below_its_header", GCB, flags=LONG | CHANGE, length=1000, change=-1,
          payload=b"(C) x")
    image("vgc_shrunk_to_nothing", VGC, flags=LONG | CHANGE, length=70000, change=-128,
          payload=b"VGC")


# ---------------------------------------------------------------- kelmtool_write_fuzz
IMAGE_MODE, DUMP_MODE = 0, 1
KIND_GCB, KIND_DOL, KIND_ELF, KIND_VGC = 0, 1, 2, 3
SLOT_GIVEN, KIND_GIVEN, VERIFY, CAPITALS = 1, 2, 4, 8
DUMP_VERIFY, WRONG_SIZE = 1, 2


def tool_image(name, kind, pick=0, taken=0, flags=0, length=0, name_length=8, options=0,
               leftover=0, payload=b""):
    data = (bytes([IMAGE_MODE, kind, pick]) + struct.pack("<I", taken) + bytes([flags]) +
            struct.pack("<I", length)[:3] + bytes([name_length - 1, options, leftover]) + payload)
    put("kelmtool_write_fuzz", name, data)


def tool_dump(name, data_slots, run_length=0, distance=64, flags=0, difference=0, payload=b""):
    data = (bytes([DUMP_MODE, flags]) + struct.pack("<I", data_slots) +
            bytes([run_length, distance // 64 - 1]) + struct.pack("<h", difference) + payload)
    put("kelmtool_write_fuzz", name, data)


def kelmtool_write_seeds():
    tool_image("dol_shorter_than_its_header", KIND_DOL, payload=bytes(range(100)))
    tool_image("dol_header_alone", KIND_DOL, payload=bytes(range(256)))
    tool_image("dol_fills_one_slot", KIND_DOL, flags=LONG, length=65280, payload=b"DOLDATA")
    tool_image("dol_one_byte_more_at_slot_3", KIND_DOL, pick=3, flags=LONG | LEFTOVERS,
               length=65281, options=SLOT_GIVEN, leftover=0x5C, payload=b"\x01\x02\x03")
    tool_image("dol_1_2_mb_runs_of_ff", KIND_DOL, flags=LONG, length=1200000,
               payload=b"code" + b"\xff" * 200)
    tool_image("dol_ff_run_125_kept", KIND_DOL, flags=LONG, length=40000,
               payload=b"\x01" + b"\xff" * 125)
    tool_image("dol_ff_run_126_skipped", KIND_DOL, flags=LONG, length=40000,
               payload=b"\x01" + b"\xff" * 126)
    tool_image("dol_only_ff_on_leftovers", KIND_DOL, flags=LONG | LEFTOVERS, length=70000,
               leftover=0x0F, payload=b"\xff")
    tool_image("dol_whole_flash", KIND_DOL, flags=LONG, length=2096896, payload=b"\x55\xaa")
    tool_image("dol_one_byte_too_many", KIND_DOL, flags=LONG, length=2096897,
               payload=b"\x55\xaa")
    tool_image("dol_between_used", KIND_DOL, taken=0xFFFFFF3F, flags=LONG, length=100000,
               payload=b"x")
    tool_image("dol_slot_taken", KIND_DOL, pick=4, taken=0xFFFFFFFF, flags=LONG, length=256,
               options=SLOT_GIVEN, payload=b"x")
    tool_image("dol_verify_capital_extension", KIND_DOL, flags=LONG, length=99999,
               options=VERIFY | CAPITALS, payload=b"verify")
    tool_image("dol_verify_over_leftovers", KIND_DOL, flags=LONG | LEFTOVERS, length=300,
               options=VERIFY, leftover=0x00, payload=b"x")
    tool_image("elf_empty", KIND_ELF, pick=31, options=SLOT_GIVEN)
    tool_image("elf_kind_given", KIND_ELF, options=KIND_GIVEN, payload=b"\x7fELF")
    tool_image("elf_without_magic", KIND_ELF, payload=b"ELF\0 no file magic")
    tool_image("elf_long_path", KIND_ELF, name_length=230, payload=b"\x7fELF")
    tool_image("elf_path_fills_name", KIND_ELF, name_length=220, payload=b"\x7fELF")
    tool_image("vgc_one_chunk", KIND_VGC, flags=LONG, length=30720, payload=b"VGC\0\0\0")
    tool_image("vgc_encrypted", KIND_VGC, payload=b"VGC\0\x02" + bytes(27))
    tool_image("vgc_empty", KIND_VGC)
    tool_image("vgc_odd_slot_free", KIND_VGC, taken=0x0000000F, flags=LONG, length=100000,
               options=VERIFY, payload=b"\0")
    tool_image("gcb_backup_two_slots", KIND_GCB, pick=1, flags=LONG, length=131072,
               options=SLOT_GIVEN | KIND_GIVEN, payload=b"ELF\0backup")
    tool_image("gcb_header_only", KIND_GCB, flags=LONG, length=256, payload=b"(C) bios")
    tool_image("gcb_one_byte_past_header", KIND_GCB, flags=LONG, length=257,
               payload=b"(C) bios")
    tool_image("gcb_too_small", KIND_GCB, payload=b"(C) short")
    tool_image("gcb_unknown_magic", KIND_GCB, flags=LONG, length=300, payload=b"ABCD")
    tool_dump("dump_sample_like", 0b100111, payload=bytes(range(1, 251)))
    tool_dump("dump_erased", 0)
    tool_dump("dump_full_verified", 0xFFFFFFFF, flags=DUMP_VERIFY, payload=b"\x12\x34\x56")
    tool_dump("dump_ff_runs_125", 0x0000FF00, run_length=125, distance=192, payload=b"\xa5")
    tool_dump("dump_ff_runs_126", 0x00FF0000, run_length=126, distance=192, payload=b"\xa5")
    tool_dump("dump_one_byte_short", 0xFFFFFFFF, flags=WRONG_SIZE, difference=-1,
              payload=b"short")
    tool_dump("dump_one_byte_long", 0x1, flags=WRONG_SIZE, difference=1, payload=b"long")


if __name__ == "__main__":
    for target in ("catalogue_scan_fuzz", "input_reports_fuzz", "image_write_fuzz",
                   "kelmtool_write_fuzz"):
        shutil.rmtree(os.path.join(CORPUS, target), ignore_errors=True)
    catalogue_seeds()
    input_report_seeds()
    image_write_seeds()
    kelmtool_write_seeds()

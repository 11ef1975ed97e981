#!/usr/bin/env python3
"""Writes the seed inputs under fuzz/corpus/<target>/: one small file per everyday or edge
situation, laid out field by field as each target's header comment describes. Run it again after
changing a target's input layout; libFuzzer grows its own corpus from these elsewhere."""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def u16(v):
    return struct.pack("<H", v)


def u32(v):
    return struct.pack("<I", v)


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# ---- transport_answer_fuzz ----
GET14 = bytes([0, 0, 0, 0xFE, 0x60, 0, 0, 0x0E] + [0] * 8)
SET2 = bytes([0x11, 0x22, 0x33, 0xFE, 0x06, 0, 0, 0x02, 0x01] + [0] * 7)
SENSE = bytes([0x70, 0, 0x0B, 0, 0, 0, 0, 10] + [0] * 10)


def transport(flags, status, data, block=GET14, sense=b"", returned=88):
    return (bytes([flags, status, len(data)]) + block + b"\xEE" * 8 + u32(returned) +
            bytes([len(sense)]) + sense + data)


write("transport_answer_fuzz", "full_answer", transport(0, 0, b"ABCDEFGH"))
write("transport_answer_fuzz", "three_bytes", transport(0, 0, b"ABC"))
write("transport_answer_fuzz", "no_data", transport(0, 0, b""))
write("transport_answer_fuzz", "check_condition_two_bytes", transport(0, 2, b"AB", sense=SENSE))
write("transport_answer_fuzz", "call_fails_after_scribbling", transport(3, 0, b"ABCDEFGH"))
write("transport_answer_fuzz", "device_sends_too_much", transport(0, 0, bytes(range(1, 21))))
write("transport_answer_fuzz", "set_form_with_junk_in_bytes_0_2", transport(0, 0, b"\x00" * 8, SET2))


# ---- discovery_inquiry_fuzz ----
def inquiry(byte3, length=36):
    data = bytearray(b" " * 36)
    data[0:8] = bytes([0x00, 0x80, 0x02, byte3, 31, 0, 0, 0])
    data[8:11] = b"KMZ"
    return bytes(data[:length])


def letter(opens=True, fails=False, scribble=False, status=0, data=b""):
    flags = (1 if opens else 0) | (2 if fails else 0) | (4 if scribble else 0)
    return bytes([flags, status, len(data)]) + data


def discovery(letters, held=False, err=0):
    return bytes([1 if held else 0]) + u32(err) + b"".join(letters)


NONE = letter(opens=False)
write("discovery_inquiry_fuzz", "camera_on_e", discovery([NONE, letter(data=inquiry(1))]))
write("discovery_inquiry_fuzz", "disk_on_d_camera_on_e",
      discovery([letter(data=inquiry(2)), letter(data=inquiry(1))]))
write("discovery_inquiry_fuzz", "byte3_0x11_then_camera_on_g",
      discovery([letter(data=inquiry(0x11)), NONE, NONE, letter(data=inquiry(1))]))
write("discovery_inquiry_fuzz", "two_cameras_first_wins",
      discovery([NONE, letter(data=inquiry(1)), NONE, letter(data=inquiry(1))]))
write("discovery_inquiry_fuzz", "short_inquiry_then_camera",
      discovery([letter(data=inquiry(1, 3)), letter(data=inquiry(1))]))
write("discovery_inquiry_fuzz", "failed_call_then_check_condition_with_the_mark",
      discovery([letter(fails=True, scribble=True), letter(status=2, data=inquiry(1, 8))]))
write("discovery_inquiry_fuzz", "held_handle_no_camera",
      discovery([letter(data=inquiry(2))] * 23, held=True, err=8))
write("discovery_inquiry_fuzz", "held_handle_camera_on_z",
      discovery([NONE] * 22 + [letter(data=inquiry(1))], held=True))


# ---- firmware_text_fuzz ----
def piece(data, fails=False, scribble=False, status=0):
    return bytes([(1 if fails else 0) | (2 if scribble else 0), status, len(data)]) + data


def firmware(pieces, open_=True, err=0, before=b"\xFF" * 50):
    return bytes([1 if open_ else 0]) + u32(err) + before + b"".join(pieces)


V = [piece(b"V1.1\0\0\0\0"), piece(b".07\0\0\0\0\0"), piece(b"20240101")]
write("firmware_text_fuzz", "everyday", firmware(V))
write("firmware_text_fuzz", "longest_text", firmware([piece(b"ABCDEFGH")] * 3))
write("firmware_text_fuzz", "second_command_fails",
      firmware([V[0], piece(b"", fails=True, scribble=True), V[2]]))
write("firmware_text_fuzz", "zero_inside_a_piece", firmware([piece(b"AB\0CD"), piece(b""), V[2]]))
write("firmware_text_fuzz", "refused_after_three_bytes",
      firmware([piece(b"XYZ", status=2), V[1], V[2]]))
write("firmware_text_fuzz", "camera_not_open", firmware(V, open_=False))


# ---- volume_descriptor_fuzz ----
def descriptor(vendor, offset=40, size=None):
    total = max(offset + len(vendor) + 1, 40) + 16
    data = bytearray(total)
    data[0:4] = u32(40)
    data[4:8] = u32(total)
    data[10] = 1
    data[12:16] = u32(offset)
    if offset:
        data[offset:offset + len(vendor)] = vendor
    return bytes(data[:size] if size is not None else data)


def parser(returned, data):
    return u32(returned) + u16(len(data)) + data


def raw_drive(type_, data, opens=True, fails=False, returned=None):
    flags = 1 | (type_ << 1) | (0x10 if opens else 0) | (0x20 if fails else 0)
    flags |= 0x40 if returned is not None else 0
    out = bytes([flags]) + (u16(returned) if returned is not None else b"")
    return out + u16(len(data)) + data


def vendor_drive(type_, vendor, offset=40, terminate=True, opens=True):
    flags = 1 | (type_ << 1) | (0x10 if opens else 0) | 0x80
    return bytes([flags, len(vendor)]) + vendor + u16(offset) + bytes([1 if terminate else 0])


ABSENT = b"\x00"
KMZ = b"KMZ     "


def volume(parse, drives, list_fails=False):
    return parse + bytes([1 if list_fails else 0]) + b"".join(drives)


P = parser(64, descriptor(KMZ))
write("volume_descriptor_fuzz", "camera_volume_on_f",
      volume(P, [ABSENT, ABSENT, raw_drive(3, descriptor(b"ZQSIM")), ABSENT, ABSENT,
                 vendor_drive(2, KMZ)]))
write("volume_descriptor_fuzz", "two_camera_volumes_last_wins",
      volume(P, [ABSENT] * 4 + [vendor_drive(2, KMZ), ABSENT, vendor_drive(2, b" \tKMZ\xa0")]))
write("volume_descriptor_fuzz", "vendor_past_returned_bytes",
      volume(parser(44, descriptor(KMZ)), [ABSENT] * 4 + [raw_drive(2, descriptor(KMZ), returned=42)]))
write("volume_descriptor_fuzz", "unterminated_vendor_at_the_end",
      volume(parser(48, descriptor(KMZ)[:48]),
             [ABSENT] * 4 + [raw_drive(2, descriptor(b"KMZ")[:43])]))
write("volume_descriptor_fuzz", "offset_inside_the_head",
      volume(parser(551, descriptor(b"KMZ", 8)), [ABSENT] * 4 + [vendor_drive(2, b"KMZ", 8)]))
write("volume_descriptor_fuzz", "fixed_disk_and_closed_volume_say_kmz",
      volume(P, [ABSENT, ABSENT, vendor_drive(3, KMZ)] + [ABSENT] * 3 +
             [vendor_drive(2, KMZ, opens=False), vendor_drive(2, b"kmz")]))
write("volume_descriptor_fuzz", "query_fails_and_no_vendor",
      volume(parser(12, descriptor(KMZ)),
             [ABSENT] * 4 + [raw_drive(2, descriptor(KMZ), fails=True), raw_drive(2, descriptor(b"", 0))]))
write("volume_descriptor_fuzz", "drive_list_fails", volume(P, [ABSENT] * 4 + [vendor_drive(2, KMZ)], True))


# ---- device_change_fuzz ----
def volume_record(mask, flags=0, size=20):
    data = u32(size) + u32(2) + u32(0) + u32(mask) + u16(flags) + u16(0)
    return data


def interface_record():
    guid = bytes.fromhex("10BFDCA5306511D2901F00C04FB951ED")
    return u32(32) + u32(5) + u32(0) + guid + b"\0" * 4


def device_change(setup, event, record, extra=b"", no_record=False, claimed=None):
    claimed = len(record) if claimed is None else claimed
    return setup + bytes([event]) + extra + bytes([1 if no_record else 0]) + u32(claimed) + record


CAMERA_E = bytes([1, 1])                 # camera on E, panel not connected
CONNECTED_E = bytes([1 | 8, 1])          # camera on E, connected at start-up
CONNECTED_E_ARRIVED_E = bytes([1 | 8 | 16, 1, 4])
E = 1 << 4
write("device_change_fuzz", "arrival_of_the_camera", device_change(CAMERA_E, 0, volume_record(E)))
write("device_change_fuzz", "arrival_of_e_and_g", device_change(CAMERA_E, 0, volume_record(E | 1 << 6)))
write("device_change_fuzz", "removal_of_the_arrived_drive",
      device_change(CONNECTED_E_ARRIVED_E, 1, volume_record(E)))
write("device_change_fuzz", "removal_with_no_arrival_on_record",
      device_change(CONNECTED_E, 1, volume_record(1 << 5)))
write("device_change_fuzz", "media_change", device_change(CONNECTED_E, 1, volume_record(E, 1)))
write("device_change_fuzz", "usb_interface_arrival", device_change(CAMERA_E, 0, interface_record()))
write("device_change_fuzz", "devnodes_changed_without_record",
      device_change(CONNECTED_E, 2, b"", no_record=True))
write("device_change_fuzz", "record_shorter_than_its_fields",
      device_change(CAMERA_E, 0, volume_record(E)[:16], claimed=16))
write("device_change_fuzz", "unit_mask_beyond_z", device_change(CAMERA_E, 0, volume_record(0xFC000000)))
write("device_change_fuzz", "other_event_type",
      device_change(CONNECTED_E, 3, volume_record(E), extra=u32(0x8001)))


# ---- vcam_records_fuzz ----
def vcam_request(rid, kind, letter, number, args=(0, 0, 0, 0), flags=0, data=b""):
    return u32(40 + len(data)) + u32(rid) + u32(kind) + u32(ord(letter)) + u32(number) + b"".join(
        u32(a) for a in args) + u32(flags) + data


INQUIRY_HEAD = (bytes([44, 0, 0, 0, 1, 0, 6, 24, 1, 0, 0, 0]) + u32(36) + u32(2) + u32(80) +
                u32(48) + bytes([0x12, 0, 0, 0, 36]) + b"\0" * 11)
VENDOR_HEAD = (bytes([44, 0, 0, 0, 1, 0, 16, 24, 1, 0, 0, 0]) + u32(8) + u32(2) + u32(80) +
               u32(48) + bytes([0xFA, 0x55, 0x66, 0xFE, 0x60, 0, 0, 0x0E]) + b"\0" * 8)
write("vcam_records_fuzz", "request_open_as_wine_gives_it",
      b"\0" + vcam_request(1, 1, "E", 1, (3, 0x60, 0, 0)))
write("vcam_records_fuzz", "request_open_as_windows_gives_it",
      b"\0" + vcam_request(2, 1, "E", 1, (3, 0x01000060, 0x80, 0x0012019F), flags=1))
write("vcam_records_fuzz", "request_inquiry",
      b"\0" + vcam_request(3, 2, "E", 1, (0x4D004, 44, 116, 0), data=INQUIRY_HEAD))
write("vcam_records_fuzz", "request_close", b"\0" + vcam_request(4, 3, "E", 1))
write("vcam_records_fuzz", "answer_with_output", b"\1" + u32(22) + u32(9) + u32(0) + u32(0x1004) +
      u32(2) + b"\xAA\xBB")
write("vcam_records_fuzz", "status_of_a_fresh_driver", b"\2" + u32(456) + u32(1) + b"\0" * 448)
write("vcam_records_fuzz", "carry_inquiry",
      b"\3" + vcam_request(5, 2, "E", 7, (0x4D004, 44, 116, 0), data=INQUIRY_HEAD))
write("vcam_records_fuzz", "carry_state_command",
      b"\3" + vcam_request(6, 2, "E", 7, (0x4D004, 44, 88, 0), data=VENDOR_HEAD))
write("vcam_records_fuzz", "carry_storage_query",
      b"\3" + vcam_request(7, 2, "F", 8, (0x2D1400, 12, 551, 0), data=b"\0" * 12))

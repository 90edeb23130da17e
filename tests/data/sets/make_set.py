#!/usr/bin/env python3
"""Writes the three-cabinet set kept beside this script (see README.md).

set1.cab, set2.cab and set3.cab are one cabinet set, laid out record by
record: the first names the second (szCabinetNext), the second both its
neighbours, the third the second (szCabinetPrev). data\\big.bin starts in
the first cabinet and continues through the second into the third, so its
folder is split across all three, each split falling inside a data block;
the third cabinet adds a folder of its own (MSZIP) with a read-only file.

Run it from anywhere with python3; it needs only the standard library. The
output is deterministic, so running it again gives the same bytes.
"""
import hashlib
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# Format constants (Microsoft Cabinet Format): a data block expands to at
# most 32 KiB; compression type 0 is none, 1 is MSZIP; version 1.3; header
# flags 1 (a previous cabinet is named) and 2 (a next one is); the folder
# index of a file continued from the previous cabinet is 0xFFFD, of one
# continued into the next 0xFFFE, of one that does both 0xFFFF.
BLOCK = 32768
NONE, MSZIP = 0, 1
VERSION = 0x0103
PREV_CABINET, NEXT_CABINET = 0x0001, 0x0002
FROM_PREV, TO_NEXT, PREV_AND_NEXT = 0xFFFD, 0xFFFE, 0xFFFF
READ_ONLY, ARCHIVE = 0x01, 0x20
SET_ID = 0x5E75


def dos_date(y, mo, d):
    return ((y - 1980) << 9) | (mo << 5) | d


def dos_time(h, mi, s):
    return (h << 11) | (mi << 5) | (s // 2)


def checksum(data, seed=0):
    """The cabinet checksum: 32-bit little-endian words XORed; a 1-3 byte
    tail is taken most significant byte first."""
    c = seed
    words = len(data) // 4
    for (w,) in struct.iter_unpack('<I', data[:words * 4]):
        c ^= w
    ul = 0
    for b in data[words * 4:]:
        ul = (ul << 8) | b
    return c ^ ul


def block(payload, size):
    """One CFDATA: checksum, compressed and uncompressed size, payload. A
    size of 0 marks the first part of a block that the next cabinet ends."""
    sizes = struct.pack('<HH', len(payload), size)
    return struct.pack('<I', checksum(sizes, checksum(payload))) + sizes + payload


def mszip(raw):
    """One MSZIP block: "CK" and a complete deflate stream of the block."""
    z = zlib.compressobj(9, zlib.DEFLATED, -15)
    return b'CK' + z.compress(raw) + z.flush()


# The files: stored name, contents, date, time, attributes.
README = (b'readme.txt', b'This set spans three cabinets; data\\big.bin runs through all of them.\r\n' * 2,
          dos_date(2021, 3, 4), dos_time(5, 6, 8), ARCHIVE)
BIG = (b'data\\big.bin', bytes((i * 31 + i // 256) & 0xFF for i in range(100000)),
       dos_date(2020, 1, 2), dos_time(3, 4, 6), ARCHIVE)
NOTES = (b'docs\\notes.txt', b'notes: stored in the last cabinet, in a folder of its own\n' * 40,
         dos_date(2019, 12, 31), dos_time(23, 59, 58), ARCHIVE)
LOCKED = (b'docs\\read-only.txt', b'read-only: extracted without write permission\n',
          dos_date(2022, 7, 8), dos_time(9, 10, 12), READ_ONLY | ARCHIVE)


def entry(file, folder, offset):
    name, data, date, time, attributes = file
    return struct.pack('<IIHHHH', len(data), offset, folder, date, time, attributes) + name + b'\0'


def cabinet(path, index, flags, names, folders, entries):
    """folders: a list of (compression, [CFDATA bytes]); names: the
    szCabinetPrev/szDiskPrev and szCabinetNext/szDiskNext strings the
    flags call for, in that order."""
    strings = b''.join(n + b'\0' for n in names)
    files_at = 36 + len(strings) + 8 * len(folders)
    listing = b''.join(entries)
    data_at = files_at + len(listing)
    records = b''
    data = b''
    for compression, blocks in folders:
        records += struct.pack('<IHH', data_at + len(data), len(blocks), compression)
        data += b''.join(blocks)
    total = data_at + len(data)
    header = struct.pack('<4sIIIIIHHHHHH', b'MSCF', 0, total, 0, files_at, 0, VERSION,
                         len(folders), len(entries), flags, SET_ID, index)
    with open(os.path.join(HERE, path), 'wb') as out:
        out.write(header + strings + records + listing + data)


def main():
    # The folder shared by all three: readme.txt then data\big.bin, stored.
    shared = README[1] + BIG[1]
    raw = [shared[at:at + BLOCK] for at in range(0, len(shared), BLOCK)]
    assert len(raw) == 4
    # Block 1 is split between the first and second cabinets, block 2
    # between the second and third.
    b1, b2 = raw[1], raw[2]
    first = [block(raw[0], len(raw[0])), block(b1[:1000], 0)]
    second = [block(b1[1000:], len(b1)), block(b2[:20000], 0)]
    third = [block(b2[20000:], len(b2)), block(raw[3], len(raw[3]))]
    own = NOTES[1] + LOCKED[1]
    assert len(own) <= BLOCK
    big_at = len(README[1])

    cabinet('set1.cab', 0, NEXT_CABINET, [b'set2.cab', b'Disk 2'], [(NONE, first)],
            [entry(README, 0, 0), entry(BIG, TO_NEXT, big_at)])
    cabinet('set2.cab', 1, PREV_CABINET | NEXT_CABINET, [b'set1.cab', b'Disk 1', b'set3.cab', b'Disk 3'],
            [(NONE, second)], [entry(BIG, PREV_AND_NEXT, big_at)])
    cabinet('set3.cab', 2, PREV_CABINET, [b'set2.cab', b'Disk 2'],
            [(NONE, third), (MSZIP, [block(mszip(own), len(own))])],
            [entry(BIG, FROM_PREV, big_at), entry(NOTES, 1, 0), entry(LOCKED, 1, len(NOTES[1]))])

    # What every file holds, for sha256sum -c in the extraction folder.
    with open(os.path.join(HERE, 'set.sha256'), 'w') as out:
        for name, data, *_ in (README, BIG, NOTES, LOCKED):
            out.write('%s  %s\n' % (hashlib.sha256(data).hexdigest(), name.decode().replace('\\', '/')))


if __name__ == '__main__':
    main()

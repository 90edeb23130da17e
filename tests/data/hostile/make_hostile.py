#!/usr/bin/env python3
"""Writes the hostile cabinets kept beside this script (see README.md).

Each cabinet is laid out by hand, record by record, so that it can hold what
no well-behaved writer produces: file ranges that coincide or overlap, a file
list in descending offset order over a 256 MiB folder, stored names that are
not UTF-8 or carry terminal escapes, a data block with a wrong checksum.

Run it from anywhere with python3; it needs only the standard library. The
output is deterministic, so running it again gives the same bytes.
"""
import hashlib
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# Format constants (Microsoft Cabinet Format): a data block expands to at
# most 32 KiB; compression type 0 is none, 1 is MSZIP; version 1.3.
BLOCK = 32768
NONE, MSZIP = 0, 1
VERSION = 0x0103
ARCHIVE, UTF_NAME = 0x20, 0x80
DATE = ((2024 - 1980) << 9) | (1 << 5) | 1  # 2024-01-01
TIME = 12 << 11                              # 12:00:00


def checksum(data, seed=0):
    """The cabinet checksum: 32-bit little-endian words XORed; a 1-3 byte
    tail is taken most significant byte first."""
    c = seed
    words = len(data) // 4
    for (w,) in struct.iter_unpack('<I', data[:words * 4]):
        c ^= w
    tail = data[words * 4:]
    ul = 0
    for b in tail:
        ul = (ul << 8) | b
    return c ^ ul


def mszip(raw):
    """One MSZIP block: "CK" and a complete deflate stream of the block."""
    z = zlib.compressobj(9, zlib.DEFLATED, -15)
    return b'CK' + z.compress(raw) + z.flush()


class Folder:
    """A folder's data blocks as (uncompressed size, payload) pairs."""

    def __init__(self, compression, blocks):
        self.compression = compression
        self.blocks = blocks

    @staticmethod
    def of(data, compression=MSZIP):
        blocks = []
        for at in range(0, len(data), BLOCK):
            raw = data[at:at + BLOCK]
            blocks.append((len(raw), mszip(raw) if compression == MSZIP else raw))
        return Folder(compression, blocks)


def attributes(name):
    try:
        name.decode('utf-8')
        utf = any(b > 127 for b in name)
    except UnicodeDecodeError:
        utf = False
    return ARCHIVE | (UTF_NAME if utf else 0)


def cabinet(path, folders, files, corrupt_block=None):
    """files: (stored name bytes, folder index, offset, length). With
    corrupt_block=(folder, block), that block's payload gets one byte
    changed after its checksum is computed."""
    head_size = 36
    files_at = head_size + 8 * len(folders)
    entries = b''
    for name, folder, offset, length in files:
        entries += struct.pack('<IIHHHH', length, offset, folder, DATE, TIME, attributes(name)) + name + b'\0'
    data_at = files_at + len(entries)
    records = b''
    data = bytearray()
    for index, folder in enumerate(folders):
        records += struct.pack('<IHH', data_at + len(data), len(folder.blocks), folder.compression)
        cache = {}
        for number, (size, payload) in enumerate(folder.blocks):
            key = (size, payload)
            if key not in cache:
                sizes = struct.pack('<HH', len(payload), size)
                cache[key] = struct.pack('<I', checksum(sizes, checksum(payload))) + sizes
            block = bytearray(cache[key] + payload)
            if corrupt_block == (index, number):
                block[-1] ^= 0x55
            data += block
    total = data_at + len(data)
    header = struct.pack('<4sIIIIIHHHHHH', b'MSCF', 0, total, 0, files_at, 0, VERSION,
                         len(folders), len(files), 0, 0x1234, 0)
    with open(os.path.join(HERE, path), 'wb') as out:
        out.write(header + records + entries + bytes(data))


def pattern(size, seed):
    """Text-like bytes that differ from place to place."""
    out = bytearray()
    x = seed
    while len(out) < size:
        x = (x * 1103515245 + 12345) & 0x7fffffff
        out += b'line %06d of block data %02d\n' % (len(out), (x >> 16) % 100)
    return bytes(out[:size])


def onepass():
    """256 MiB of MSZIP in one folder: zeros, then a 512 KiB patterned tail.
    2,000 files of 100 bytes listed at descending offsets at the very end;
    two files with one range; overlapping and nested ranges with an empty
    file inside; two large overlapping runs of zeros (a union over 16 MiB);
    a 1 MiB file at offset 0 listed last."""
    blocks_total = 8192
    tail_blocks = 16
    tail = pattern(tail_blocks * BLOCK, 7)
    folder_size = blocks_total * BLOCK
    tail_at = folder_size - len(tail)
    zero = (BLOCK, mszip(bytes(BLOCK)))
    blocks = [zero] * (blocks_total - tail_blocks) + Folder.of(tail).blocks

    def content(offset, length):
        out = bytearray()
        if offset < tail_at:
            out += bytes(min(length, tail_at - offset))
        start = max(offset, tail_at)
        end = offset + length
        if end > start:
            out += tail[start - tail_at:end - tail_at]
        return bytes(out)

    files = []
    for i in range(2000):
        files.append((b'f%04d.txt' % i, 0, folder_size - (i + 1) * 100, 100))
    group = tail_at + 100000
    files += [
        (b'same-a.txt', 0, group, 5000),
        (b'same-b.txt', 0, group, 5000),
        (b'over-2.txt', 0, group + 20000, 3000),
        (b'over-1.txt', 0, group + 19000, 2000),
        (b'outer.txt', 0, group + 40000, 10000),
        (b'inner.txt', 0, group + 42000, 1000),
        (b'empty-inside.txt', 0, group + 45000, 0),
        (b'span-b.bin', 0, 10 << 20, 20 << 20),
        (b'span-a.bin', 0, 1 << 20, 19 << 20),
        (b'first-mib.bin', 0, 0, 1 << 20),
    ]
    cabinet('onepass.cab', [Folder(MSZIP, blocks)], files)
    with open(os.path.join(HERE, 'onepass.sha256'), 'w') as out:
        for name, _, offset, length in files:
            digest = hashlib.sha256(content(offset, length)).hexdigest()
            out.write('%s  %s\n' % (digest, name.decode()))


def overlap():
    """Two folders (MSZIP, then stored) of patterned data whose files
    coincide, overlap, nest and sit at one offset with an empty file, listed
    out of order, a file of the second folder first."""
    a = pattern(200000, 1)
    b = pattern(90000, 2)
    files = [
        (b'b-whole.txt', 1, 0, len(b)),
        (b'a-late.txt', 0, 150000, 50000),
        (b'a-twin-1.txt', 0, 60000, 40000),
        (b'a-twin-2.txt', 0, 60000, 40000),
        (b'a-overlaps-twins.txt', 0, 90000, 30000),
        (b'a-nested.txt', 0, 65000, 100),
        (b'a-empty-at-twins.txt', 0, 60000, 0),
        (b'a-empty-inside.txt', 0, 70000, 0),
        (b'a-start.txt', 0, 0, 1000),
        (b'b-half.txt', 1, 45000, 45000),
        (b'b-head.txt', 1, 0, 45000),
        (b'a-after-gap.txt', 0, 140000, 5000),
    ]
    cabinet('overlap.cab', [Folder.of(a), Folder.of(b, NONE)], files)


def names():
    """Stored names that are not UTF-8, that differ only in such bytes, that
    carry terminal escapes, a newline or a C1 control, and a folder whose
    name is not UTF-8. Each file holds b"content of " + its stored name."""
    stored = [
        b'caf\xe9.txt',
        b'a\xff',
        b'a\xfe',
        b'\x1b[31mred\x1b[0m.txt',
        b'two\nlines.txt',
        b'c1-\xc2\x9b-csi.txt',
        b'dir\xff/inner.txt',
        'grüße.txt'.encode(),
    ]
    data = b''
    files = []
    for name in stored:
        body = b'content of ' + name
        files.append((name, 0, len(data), len(body)))
        data += body
    cabinet('names.cab', [Folder.of(data)], files)


def planted():
    """A file below a folder that a test replaces by a symbolic link."""
    data = b'fine\n' + b'evil\n'
    cabinet('planted.cab', [Folder.of(data)],
            [(b'ok.txt', 0, 0, 5), (b'planted_dir/evil.txt', 0, 5, 5)])


def damaged():
    """victim.txt lies in the third data block, whose checksum does not
    match; first.txt, in the first block, is sound (the second block is
    filler, so reading ahead past the first block finds sound data)."""
    first = pattern(1000, 3)
    filler = pattern(2 * BLOCK - len(first), 4)
    victim = b'NEW CONTENT THAT MUST NEVER LAND\n' * 100
    cabinet('damaged.cab', [Folder.of(first + filler + victim)],
            [(b'first.txt', 0, 0, len(first)), (b'victim.txt', 0, 2 * BLOCK, len(victim))],
            corrupt_block=(0, 2))


def selfnamed():
    """A cabinet holding a file under the cabinet's own name."""
    data = b'would overwrite the cabinet\n'
    cabinet('self.cab', [Folder.of(data)], [(b'self.cab', 0, 0, len(data))])


if __name__ == '__main__':
    onepass()
    overlap()
    names()
    planted()
    damaged()
    selfnamed()

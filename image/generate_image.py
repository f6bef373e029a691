#!/usr/bin/env python3
"""Writes korvane-16.3.hex, the firmware image built into the updater.

The output is deterministic: the same script writes the same bytes on every run, so the
committed image can always be checked against it. Standard library only.

Layout of the image (word addresses, two bytes per word):

    0x0030-0x077B  0x0800-0x0FEE  0x1030-0x1047  0x1050-0x1079
    0x1200-0x176E  0x1800-0x18E7  0x19C0-0x1B33

Records follow each other in ascending address order and start on 16-byte boundaries,
16 data bytes each; a shorter record closes a block whose length is not a multiple of 16
bytes, and the two small blocks at 0x1030 and 0x1050 (tables of the firmware) are cut at
their own entry boundaries. The first record is the firmware's reset code; the other data
words are 14-bit instruction words from a fixed pseudo-random sequence. The last line is
the end-of-file record. Lines end with CR LF, as Intel HEX files conventionally do.
"""

import argparse
import os
import sys

LINE_END = "\r\n"

# Reset code at word 48: the first record of the image, verbatim.
FIRST_RECORD = ":100060008A110A12FA288A110A1252298A110A12CE"
END_OF_FILE = ":00000001FF"

# Covered blocks: (first word, last word, sizes in bytes of the records that make them
# up, or None for 16-byte records with a shorter one to close the block).
BLOCKS = [
    (0x0030, 0x077B, None),
    (0x0800, 0x0FEE, None),
    (0x1030, 0x1047, [16, 16, 8, 8]),
    (0x1050, 0x1079, [16, 16, 16, 16, 10, 4, 2, 4]),
    (0x1200, 0x176E, None),
    (0x1800, 0x18E7, None),
    (0x19C0, 0x1B33, None),
]

# Start value of the data word sequence.
START_VALUE = 0x4B271603


class WordSequence:
    """32-bit xorshift; each step yields one 14-bit instruction word."""

    def __init__(self, state):
        self.state = state & 0xFFFFFFFF

    def next_word(self):
        x = self.state
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        self.state = x
        return (x >> 8) & 0x3FFF


def record_line(count, address, rtype, data):
    assert len(data) == count
    fields = [count, address >> 8, address & 0xFF, rtype] + list(data)
    checksum = (-sum(fields)) & 0xFF
    return ":" + "".join("%02X" % b for b in fields + [checksum])


def record_sizes(first_word, last_word, sizes):
    length = (last_word - first_word + 1) * 2
    if sizes is None:
        sizes = [16] * (length // 16)
        if length % 16:
            sizes.append(length % 16)
    assert sum(sizes) == length, (hex(first_word), sizes, length)
    return sizes


def build_lines():
    words = WordSequence(START_VALUE)
    lines = []
    for first_word, last_word, sizes in BLOCKS:
        address = first_word * 2
        for size in record_sizes(first_word, last_word, sizes):
            if not lines:
                lines.append(FIRST_RECORD)
            else:
                data = []
                for _ in range(size // 2):
                    w = words.next_word()
                    data += [w & 0xFF, w >> 8]
                lines.append(record_line(size, address, 0, data))
            address += size
    lines.append(END_OF_FILE)
    return lines


def parse(line):
    raw = bytes.fromhex(line[1:])
    count, address, rtype = raw[0], (raw[1] << 8) | raw[2], raw[3]
    return count, address, rtype, raw[4:4 + count], raw


def check(lines):
    """Asserts the properties that the updater and its tests rely on."""
    assert len(lines) == 751
    assert lines[0] == FIRST_RECORD and lines[-1] == END_OF_FILE
    sizes = {}
    covered = set()
    previous_end = 0
    for line in lines[:-1]:
        assert line == line.upper() and line.startswith(":")
        assert 11 <= len(line) <= 43
        count, address, rtype, data, raw = parse(line)
        assert len(line) == 11 + 2 * count
        assert sum(raw) & 0xFF == 0
        assert rtype == 0 and count % 2 == 0 and address % 2 == 0
        assert address >= previous_end
        previous_end = address + count
        sizes[count] = sizes.get(count, 0) + 1
        for i in range(count // 2):
            assert data[2 * i + 1] <= 0x3F
            covered.add(address // 2 + i)
    assert sizes == {16: 740, 14: 2, 10: 1, 8: 4, 4: 2, 2: 1}, sizes
    assert min(covered) == 48 and max(covered) == 6963 and len(covered) == 5960
    gaps = [(0x077C, 0x07FF), (0x0FEF, 0x102F), (0x1048, 0x104F), (0x107A, 0x11FF),
            (0x176F, 0x17FF), (0x18E8, 0x19BF)]
    expected = set(range(48, 6964))
    for lo, hi in gaps:
        expected -= set(range(lo, hi + 1))
    assert covered == expected


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-o", "--output", default=os.path.join(here, "korvane-16.3.hex"),
                        help="file to write (default: %(default)s); '-' for stdout")
    args = parser.parse_args()
    lines = build_lines()
    check(lines)
    text = "".join(line + LINE_END for line in lines).encode("ascii")
    if args.output == "-":
        sys.stdout.buffer.write(text)
    else:
        with open(args.output, "wb") as f:
            f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Runs korvane-hex2table on a variant of the firmware image and checks its verdict.

    check_hex2table.py TOOL IMAGE CASE

A refused variant must make the tool fail (exit status 1), write no output and name the
offending line in its message together with the reason; an accepted variant must produce
the same table as the image itself.
"""

import os
import subprocess
import sys
import tempfile


def lines_of(image):
    with open(image, "rb") as f:
        return f.read().decode("ascii").splitlines()


def with_checksum(line):
    raw = bytes.fromhex(line[1:-2])
    return line[:-2] + "%02X" % ((-sum(raw)) & 0xFF)


def data_record(address):
    return with_checksum(":02%04X00341200" % address)


def join(lines, end="\r\n"):
    return "".join(l + end for l in lines).encode("ascii")


def variants(lines):
    """name -> (file content, None when accepted or (line number, words of the reason))."""
    eof = lines[-1]
    records = lines[:-1]
    cases = {}

    # Line 300: one checksum digit changed.
    l = list(lines)
    last = l[299][-1]
    l[299] = l[299][:-1] + ("0" if last != "0" else "1")
    cases["checksum-digit"] = (join(l), (300, "checksum"))

    # 2001 records: 2000 data records, then the end-of-file record as record 2001.
    many = [data_record(0x0060 + 2 * i) for i in range(2000)] + [eof]
    cases["too-many-records"] = (join(many), (2001, "more than 2000 records"))
    # Exactly 2000 records fit.
    cases["capacity-fits"] = (join(many[1:]), None)

    l = list(lines)
    l[41] = l[41][:20] + l[41][20:].lower()
    if l[41] == lines[41]:
        raise SystemExit("line 42 has no letter digit to lower")
    cases["lowercase-digit"] = (join(l), (42, "uppercase"))

    cases["last-not-eof"] = (join(records), (750, "end-of-file"))
    cases["eof-in-the-middle"] = (join(records[:10] + [eof] + records[10:] + [eof]),
                                  (11, "end-of-file record before the last"))

    l = list(lines)
    l.insert(100, "")
    cases["empty-line-in-the-middle"] = (join(l), (101, "empty line"))
    cases["no-records"] = (b"", (1, "no records"))
    cases["only-empty-lines"] = (b"\r\n\r\n", (1, "no records"))

    # 20 data bytes: 51 characters fit in a slot; 22 bytes (55 characters) do not.
    l = list(lines)
    l[4] = with_checksum(":14%04X00%s00" % (0x4000, "00" * 20))
    cases["longest-line-fits"] = (join(l), None) if len(l[4]) == 51 else None
    l[4] = with_checksum(":16%04X00%s00" % (0x4000, "00" * 22))
    cases["line-too-long"] = (join(l), (5, "characters long"))

    l = list(lines)
    l[6] = l[6][:1] + "0F" + l[6][3:]
    cases["count-does-not-match-length"] = (join(l), (7, "byte count"))
    l = list(lines)
    l[6] = l[6][:20]
    cases["truncated-line"] = (join(l), (7, "byte count"))
    l = list(lines)
    l[6] = "0" + l[6][1:]
    cases["no-start-code"] = (join(l), (7, "':'"))
    l = list(lines)
    l[6] = l[6][:15] + " " + l[6][16:]
    cases["blank-inside-record"] = (join(l), (7, "uppercase"))

    l = list(lines)
    l[2] = with_checksum(":03%04X0034125600" % 0x0100)
    cases["odd-byte-count"] = (join(l), (3, "odd byte count"))
    l[2] = with_checksum(":02%04X00341200" % 0x0101)
    cases["odd-load-address"] = (join(l), (3, "odd load address"))
    # Word 7102 with 4 words reaches 7105, past the last program word the device takes.
    l[2] = with_checksum(":08%04X00341234123412341200" % (7102 * 2))
    cases["program-words-past-7103"] = (join(l), (3, "7103"))
    l[2] = with_checksum(":04%04X003412341200" % (7102 * 2))
    cases["program-words-up-to-7103"] = (join(l), None)
    # EEPROM byte 254 with 4 bytes reaches byte 257.
    l[2] = with_checksum(":08%04X00341234123412341200" % ((0x2100 + 254) * 2))
    cases["eeprom-past-255"] = (join(l), (3, "255"))

    cases["lf-line-endings"] = (join(lines, "\n"), None)
    cases["no-final-line-ending"] = (join(lines)[:-2], None)
    cases["trailing-empty-lines"] = (join(lines) + b"\r\n\n", None)
    return cases


def run(tool, path, output):
    return subprocess.run([tool, path, output], capture_output=True, text=True)


def main():
    tool, image, case = sys.argv[1:4]
    lines = lines_of(image)
    cases = variants(lines)
    if case not in cases or cases[case] is None:
        print("unknown or unusable case: %s" % case)
        return 1
    content, refusal = cases[case]

    with tempfile.TemporaryDirectory() as tmp:
        variant = os.path.join(tmp, "variant.hex")
        with open(variant, "wb") as f:
            f.write(content)
        output = os.path.join(tmp, "variant.cpp")
        result = run(tool, variant, output)
        message = result.stderr.strip()
        print("exit status %d: %s" % (result.returncode, message or "(no message)"))

        if refusal is None:
            if result.returncode != 0:
                print("FAIL: the variant should be accepted")
                return 1
            if not os.path.exists(output):
                print("FAIL: no table was written")
                return 1
            if case in ("lf-line-endings", "no-final-line-ending", "trailing-empty-lines"):
                reference = os.path.join(tmp, "reference.cpp")
                if run(tool, image, reference).returncode != 0:
                    print("FAIL: the image itself is refused")
                    return 1
                with open(output, "rb") as a, open(reference, "rb") as b:
                    if a.read().replace(b"variant.hex", b"") != \
                            b.read().replace(os.path.basename(image).encode(), b""):
                        print("FAIL: the table differs from the image's own")
                        return 1
            return 0

        number, reason = refusal
        if result.returncode != 1:
            print("FAIL: expected exit status 1")
            return 1
        if os.path.exists(output) or os.path.exists(output + ".tmp"):
            print("FAIL: an output was written for a refused image")
            return 1
        if ("variant.hex:%d:" % number) not in message or ("line %d:" % number) not in message:
            print("FAIL: the message does not name line %d" % number)
            return 1
        if reason.lower() not in message.lower():
            print("FAIL: the message does not give the reason (%r)" % reason)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Writes the committed start inputs of the fuzz targets into corpus/<target>/.

Each input is a meaningful session or record, so that fuzzing starts from the protocol's
real paths. Run again after changing an input format; the files are committed.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

# Operation codes of fuzz_chargeur.cpp.
(CONNECTER, REINITIALISER, FERMER, VERIFIER_TYPE, LIRE_TYPE, LIRE_MODE, LIRE_NUMERO_SERIE,
 LIRE_VERSION, LIRE_OCTET_EEPROM, ECRIRE_OCTET_EEPROM, PREPARER, ENTRER_PROGRAMMATION,
 ECRIRE_MOTS, ECRIRE_VERSION, SORTIR_PROGRAMMATION, CHOISIR_PORT, PURGER, PANNE,
 LIRE_MOT_EEPROM, RECEVOIR_HEX) = range(20)
# Call kinds of PortFuzz::Appel.
OPEN, GET_SETTINGS, SET_SETTINGS, GET_TIMEOUTS, SET_TIMEOUTS, PURGE, WRITE, READ, CLOSE = range(9)

ACK = 0x84
SILENCE = [0xFF, 0x00]
HANGUP = [0xFF, 0x01]


def hexchars(value):
    return list(b"%02X" % value)


def type_code(code):
    out = []
    for c in code:
        out += hexchars(ord(c))
    return out


def serial(n):
    out = []
    for i in range(4):
        out += hexchars((n >> (8 * i)) & 0xFF)
    return out


def verification(code="K27", mode=3, numero=650000000, version=(16, 2)):
    """Answers of a device to the engine's verification, from the handshake on."""
    return ([0x81] + type_code(code) + hexchars(mode) + serial(numero) +
            hexchars(version[0]) + hexchars(version[1]) + [ACK, ACK])


def chargeur(ops, stream, depart=0):
    data = [depart, len(ops)]
    for op in ops:
        data += op
    return bytes(data + stream)


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def corpus_chargeur():
    session = [[CONNECTER, 0], [VERIFIER_TYPE], [LIRE_MODE], [LIRE_NUMERO_SERIE],
               [LIRE_VERSION], [PREPARER], [ENTRER_PROGRAMMATION],
               [ECRIRE_MOTS, 0x00, 0x30, 0x11, 0x8A, 7], [ECRIRE_VERSION, 16, 3],
               [SORTIR_PROGRAMMATION], [REINITIALISER], [FERMER]]
    stream = verification() + [ACK] * 8 + [ACK, ACK] + [0x00]
    write("fuzz_chargeur", "good_session", chargeur(session, stream))

    write("fuzz_chargeur", "handshake_0x85",
          chargeur([[CONNECTER, 0], [VERIFIER_TYPE]], [0x85, 0x00, 0x81] + type_code("K27")))
    write("fuzz_chargeur", "type_refused_lowercase",
          chargeur([[CONNECTER, 0], [VERIFIER_TYPE], [LIRE_TYPE]],
                   [0x81] + type_code("k27") + type_code("K28")))
    write("fuzz_chargeur", "silent_device_clock_wrap",
          chargeur([[CONNECTER, 1], [CONNECTER, 3], [FERMER]], [], depart=0xFF))
    write("fuzz_chargeur", "noise_then_answer",
          chargeur([[CONNECTER, 2]], [0x00, 0x55, 0xFF, 0x80, 0x81]))
    # A word write refused twice, then accepted; then silence on the next one.
    write("fuzz_chargeur", "word_retries",
          chargeur([[CONNECTER, 0], [PREPARER], [ENTRER_PROGRAMMATION],
                    [ECRIRE_MOTS, 0x1B, 0xBE, 0xAB, 0xCD, 3]],
                   [0x81, ACK] + hexchars(1) + [ACK] + [0x00, 0x00, ACK, ACK] + SILENCE))
    # Port calls that fail: open, then the restore of the settings on close.
    write("fuzz_chargeur", "port_faults",
          chargeur([[PANNE, OPEN, 0, 5], [CONNECTER, 0], [PANNE, SET_SETTINGS, 1, 0],
                    [CONNECTER, 0], [FERMER], [FERMER]], [0x81, 0x00]))
    # The line goes in the middle of a read; the address range ends on both sides.
    write("fuzz_chargeur", "hangup_and_ranges",
          chargeur([[CONNECTER, 0], [LIRE_OCTET_EEPROM, 0x78], [PREPARER],
                    [ENTRER_PROGRAMMATION], [ECRIRE_MOTS, 0x00, 0x2F, 0, 0, 2],
                    [ECRIRE_MOTS, 0x1B, 0xBF, 0, 0, 2], [REINITIALISER], [CHOISIR_PORT, 0xFF],
                    [LIRE_MOT_EEPROM, 0xFF], [RECEVOIR_HEX]],
                   [0x81, ord("1")] + HANGUP + [ACK] + hexchars(3) + [ACK, ACK, ACK]))


FIRST = ":100060008A110A12FA288A110A1252298A110A12CE"
EOF = ":00000001FF"


def enregistrement(line, hexa=False, slots=()):
    data = bytes([1 if hexa else 0, len(line)]) + line.encode("latin-1").ljust(54, b"\0")
    data += bytes([len(slots)])
    for s in slots:
        data += s.encode("latin-1").ljust(55, b"\0")
    return data + b"\0" * 55


def corpus_enregistrement():
    write("fuzz_enregistrement", "first_record", enregistrement(FIRST, slots=[FIRST, EOF]))
    write("fuzz_enregistrement", "eof_record", enregistrement(EOF))
    write("fuzz_enregistrement", "eeprom_record", enregistrement(":04420000AA01BB02D0"))
    write("fuzz_enregistrement", "odd_count_type_02", enregistrement(":03006002123456F0"))
    write("fuzz_enregistrement", "outside_areas",
          enregistrement(":02400000FFFF00", slots=[":0241FE00FFFF00", ":02005E00AAAA00",
                                                  ":020000040000FA"]))
    write("fuzz_enregistrement", "lowercase_and_full_slot",
          enregistrement(":10006000" + "ff" * 16 + "zz" * 4 + "x",
                         slots=["Z" * 55, "\x7f" * 55, EOF]))


def read_image():
    with open(os.path.join(ROOT, "image", "korvane-16.3.hex")) as f:
        return [l.strip() for l in f if l.strip()]


def moteur(stream, lines=None, options=0):
    data = bytes([options | (1 if lines is not None else 0)])
    if lines is not None:
        data += bytes([len(lines)]) + b"".join(l.encode("latin-1") + b"\n" for l in lines)
    return data + bytes(stream)


def corpus_moteur():
    words = 0
    for line in read_image():
        count, kind = int(line[1:3], 16), int(line[7:9], 16)
        if kind == 0:
            words += count // 2
    # The whole update of the built-in image: every word and the version acknowledged.
    write("fuzz_moteur", "builtin_image_update", moteur(verification() + [ACK] * (words + 2)))

    small = [FIRST, ":020000040000FA", ":04420000AA01BB02D0", ":02400000FFFF00", EOF]
    write("fuzz_moteur", "small_image_update",
          moteur(verification() + [ACK] * (8 + 2 + 2), small, options=2))
    write("fuzz_moteur", "image_without_eof",
          moteur(verification() + [ACK] * 8, [FIRST, ":020000040000FA"]))
    write("fuzz_moteur", "word_out_of_range",
          moteur(verification() + [ACK] * 8, [":02378000AAAA00", EOF]))
    write("fuzz_moteur", "serial_refused", moteur(verification(numero=700000000)))
    write("fuzz_moteur", "version_refused", moteur(verification(version=(16, 3))))
    write("fuzz_moteur", "mode_refused", moteur(verification(mode=4)))
    write("fuzz_moteur", "handshake_late",
          moteur(SILENCE * 3 + [0x85, 0x00] + verification(code="K28")))
    write("fuzz_moteur", "silent_device", moteur([], options=12))
    write("fuzz_moteur", "failure_mid_record",
          moteur(verification() + [ACK] * 3 + [0x00] * 3 + HANGUP))


def main():
    corpus_chargeur()
    corpus_enregistrement()
    corpus_moteur()
    return 0


if __name__ == "__main__":
    sys.exit(main())

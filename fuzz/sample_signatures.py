#!/usr/bin/env python3
"""Writes the signed messages of the real Windows samples (catalogs whole, and the first entry of
each image's certificate table) to a folder, as seeds of the timestamp fuzz target; the samples
stay where they are and their bytes out of the tree.

    sample_signatures.py SAMPLES_DIR OUT_DIR
"""
import os
import struct
import sys


def image_message(data):
    """The PKCS #7 message of the first certificate-table entry of a PE image, or None."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        return None
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if pe + 26 > len(data) or data[pe:pe + 4] != b"PE\0\0":
        return None
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    entry = pe + 24 + (96 if magic == 0x10B else 112) + 4 * 8
    if entry + 8 > len(data):
        return None
    offset, size = struct.unpack_from("<II", data, entry)
    if size < 8 or offset + 8 > len(data):
        return None
    length = struct.unpack_from("<I", data, offset)[0]
    if length <= 8 or offset + length > len(data):
        return None
    return data[offset + 8:offset + length]


def main():
    samples, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    for name in sorted(os.listdir(samples)):
        with open(os.path.join(samples, name), "rb") as f:
            data = f.read()
        message = data if name.lower().endswith(".cat") else image_message(data)
        if message:
            with open(os.path.join(out, name + ".p7"), "wb") as f:
                f.write(message)


if __name__ == "__main__":
    main()

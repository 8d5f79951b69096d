"""Writes the PE checksum into an image: pe_checksum.py FILE.

lld leaves the checksum field 0, where GNU ld fills it in. Windows does not
need it for a program, but signing tools do: osslsigncode recomputes it when
it signs and when it removes a signature, so without it a signature could not
be removed to give back the unsigned bytes. The algorithm is the one of
Windows' CheckSumMappedFile: the image's 16-bit little-endian words summed
with the carries folded back in, the checksum field left out, plus the file's
length.
"""

import struct
import sys


def checksum(image, field):
    total = 0
    padded = image + b"\0" * (len(image) % 2)
    for offset in range(0, len(padded), 2):
        if field <= offset < field + 4:
            continue
        total += padded[offset] | padded[offset + 1] << 8
        total = (total & 0xFFFF) + (total >> 16)
    return ((total & 0xFFFF) + (total >> 16) + len(image)) & 0xFFFFFFFF


def main(path):
    with open(path, "rb") as file:
        image = bytearray(file.read())
    # e_lfanew, then the signature (4 bytes), the file header (20) and the optional header's first 64 bytes.
    field = struct.unpack_from("<I", image, 0x3C)[0] + 4 + 20 + 64
    struct.pack_into("<I", image, field, checksum(bytes(image), field))
    with open(path, "wb") as file:
        file.write(image)


if __name__ == "__main__":
    main(sys.argv[1])

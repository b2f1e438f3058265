#!/usr/bin/env python3
"""Build-time work on a Windows executable (a PE image), reproducibly.

Usage:
  pe-image.py run-from-swap EXE     sets IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP and
                                    IMAGE_FILE_NET_RUN_FROM_SWAP in the file
                                    header, and the checksum again if it has one
  pe-image.py check-sum EXE         fails, saying so, when the image carries
                                    a checksum that is not its own
  pe-image.py digest EXE            prints the image's SHA-256 as an
                                    Authenticode signature leaves it
  pe-image.py digest-header EXE NAME HEADER
                                    writes HEADER, a C++ header that defines
                                    NAME as that digest, in hexadecimal

The digest covers the whole file but the checksum, the certificate table's
entry in the data directories and the certificate table itself, with the
file padded with zeros to a multiple of 8 bytes, as signing tools pad it
before they append the table. So signing the file leaves its digest as it
was; tessary-deploy.exe computes the same (deploy/image_digest.h).
"""
import hashlib
import struct
import sys

RUN_FROM_SWAP = 0x0400 | 0x0800


class Image:
    def __init__(self, data):
        if len(data) < 0x40 or data[:2] != b"MZ":
            raise ValueError("not an executable: no MZ header")
        self.pe = struct.unpack_from("<I", data, 0x3C)[0]
        if self.pe + 24 + 2 > len(data) or data[self.pe:self.pe + 4] != b"PE\0\0":
            raise ValueError("not a PE image")
        self.characteristics = self.pe + 4 + 18
        optional = self.pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        if magic not in (0x10B, 0x20B):
            raise ValueError("unknown optional header 0x%x" % magic)
        self.checksum = optional + 64
        self.security = optional + (96 if magic == 0x10B else 112) + 4 * 8
        if self.security + 8 > len(data):
            raise ValueError("the data directories are cut short")
        table, size = struct.unpack_from("<II", data, self.security)
        self.end = table if size != 0 else len(data)
        if self.end > len(data):
            raise ValueError("the certificate table lies beyond the file")


def checksum(data, field):
    """The PE checksum: the file's 16-bit words summed with carries folded,
    the checksum field taken as zero, plus the file's length."""
    body = bytearray(data)
    body[field:field + 4] = b"\0\0\0\0"
    if len(body) % 2:
        body.append(0)
    total = 0
    for (word,) in struct.iter_unpack("<H", body):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def run_from_swap(path):
    with open(path, "rb") as file:
        data = bytearray(file.read())
    image = Image(data)
    flags = struct.unpack_from("<H", data, image.characteristics)[0]
    struct.pack_into("<H", data, image.characteristics, flags | RUN_FROM_SWAP)
    if struct.unpack_from("<I", data, image.checksum)[0] != 0:
        struct.pack_into("<I", data, image.checksum, checksum(data, image.checksum))
    with open(path, "wb") as file:
        file.write(data)


def check_sum(path):
    with open(path, "rb") as file:
        data = file.read()
    image = Image(data)
    stored = struct.unpack_from("<I", data, image.checksum)[0]
    right = checksum(data, image.checksum)
    if stored not in (0, right):
        raise ValueError("the checksum is 0x%08x, not the image's 0x%08x" % (stored, right))


def digest(path):
    with open(path, "rb") as file:
        data = file.read()
    image = Image(data)
    sha = hashlib.sha256()
    sha.update(data[:image.checksum])
    sha.update(data[image.checksum + 4:image.security])
    sha.update(data[image.security + 8:image.end])
    sha.update(b"\0" * (-image.end % 8))
    return sha.hexdigest()


def main(argv):
    try:
        if len(argv) == 3 and argv[1] == "run-from-swap":
            run_from_swap(argv[2])
        elif len(argv) == 3 and argv[1] == "check-sum":
            check_sum(argv[2])
        elif len(argv) == 3 and argv[1] == "digest":
            print(digest(argv[2]))
        elif len(argv) == 5 and argv[1] == "digest-header":
            text = "// Made by scripts/pe-image.py from %s; do not edit.\n#pragma once\n#define %s \"%s\"\n" % (
                argv[2].rsplit("/", 1)[-1], argv[3], digest(argv[2]))
            with open(argv[4], "w") as header:
                header.write(text)
        else:
            sys.stderr.write(__doc__)
            return 2
    except (OSError, ValueError) as problem:
        sys.stderr.write("pe-image.py: %s: %s\n" % (argv[2], problem))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

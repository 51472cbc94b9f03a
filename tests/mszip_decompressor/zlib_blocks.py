#!/usr/bin/env python3
"""zlib_blocks.py TARGET LEVEL:FILE...

Cuts each file into 32768-byte blocks and compresses each block with zlib at the given
level in MSZIP framing: "CK", then a raw deflate stream that ends with the final bit, with
the previous block as preset dictionary when that block was full. Writes to TARGET, per
job, the block count, then per block the uncompressed and the compressed length (32-bit
little-endian) followed by the compressed bytes."""
import struct
import sys
import zlib


def blocks(data, level):
    previous = b""
    for start in range(0, len(data), 32768):
        block = data[start:start + 32768]
        if len(previous) == 32768:
            c = zlib.compressobj(level, zlib.DEFLATED, -15, 9, zlib.Z_DEFAULT_STRATEGY, previous)
        else:
            c = zlib.compressobj(level, zlib.DEFLATED, -15, 9)
        yield len(block), b"CK" + c.compress(block) + c.flush(zlib.Z_FINISH)
        previous = block


def main():
    with open(sys.argv[1], "wb") as out:
        for job in sys.argv[2:]:
            level, path = job.split(":", 1)
            with open(path, "rb") as f:
                packed = list(blocks(f.read(), int(level)))
            out.write(struct.pack("<I", len(packed)))
            for size, data in packed:
                out.write(struct.pack("<II", size, len(data)) + data)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes a self-extracting file for the window scripts: the extractor given as HEAD with
its length at offset 124 and a cabinet of stored (uncompressed) files behind it.
  many    400 files of 100,000 bytes under page/: slow enough to watch, and to cancel;
  secret  one page behind the header reserve that holds the digit string of "abc".
Usage: stored_sfx.py HEAD OUT many|secret
"""
import struct
import sys


def cabinet(files, reserve=b''):
    data = b''.join(c for _, c in files)
    hsize = 36 + (4 + len(reserve) if reserve else 0)
    entries = b''
    off = 0
    for name, c in files:
        entries += struct.pack('<IIHHHH', len(c), off, 0, 0x5ACF, 0x6000, 0x20) + name + b'\0'
        off += len(c)
    blocks = [data[i:i + 32768] for i in range(0, len(data), 32768)]
    first = hsize + 8 + len(entries)
    body = b''.join(struct.pack('<IHH', 0, len(b), len(b)) + b for b in blocks)
    total = first + len(body)
    h = struct.pack('<4sIIIIIBBHHHHH', b'MSCF', 0, total, 0, hsize + 8, 0, 3, 1, 1, len(files),
                    4 if reserve else 0, 65432, 0)
    if reserve:
        h += struct.pack('<HBB', len(reserve), 0, 0) + reserve
    return h + struct.pack('<IHH', first, len(blocks), 0) + entries + body


def main():
    if len(sys.argv) != 4 or sys.argv[3] not in ('many', 'secret'):
        sys.exit(__doc__)
    head = bytearray(open(sys.argv[1], 'rb').read())
    struct.pack_into('<I', head, 124, len(head))
    if sys.argv[3] == 'many':
        cab = cabinet([(b'page/part%04d.htm' % i, bytes([i % 251]) * 100000) for i in range(400)])
    else:
        cab = cabinet([(b'index.htm', b'<html></html>')], b'035306100867\0')
    open(sys.argv[2], 'wb').write(bytes(head) + cab)


if __name__ == '__main__':
    main()

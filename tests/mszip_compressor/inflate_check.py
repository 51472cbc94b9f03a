"""Inflates MSZIP blocks with Python's zlib and compares them with the expected bytes.

Each manifest line: COMPRESSED EXPECTED DICTIONARY|- any|needs-history
A block must start with "CK", hold exactly one raw deflate stream that ends with the
final block and nothing after it, and inflate (with the previous block as preset
dictionary, when given) to EXPECTED. With needs-history it must also fail to inflate
to EXPECTED without that dictionary, which shows that it reaches into the history.
"""
import sys
import zlib


def inflate(data, zdict):
    d = zlib.decompressobj(-15, zdict=zdict) if zdict is not None else zlib.decompressobj(-15)
    out = d.decompress(data)
    if not d.eof:
        raise ValueError("stream does not end with a final block")
    if d.unused_data:
        raise ValueError("%d bytes after the end of the stream" % len(d.unused_data))
    return out


def read(path):
    with open(path, "rb") as f:
        return f.read()


def main():
    failures = 0
    checked = 0
    with open(sys.argv[1]) as manifest:
        for line in manifest:
            cmp_path, exp_path, dict_path, mode = line.split()
            data, expected = read(cmp_path), read(exp_path)
            zdict = read(dict_path) if dict_path != "-" else None
            checked += 1
            problem = None
            if data[:2] != b"CK":
                problem = "no CK signature"
            else:
                try:
                    if inflate(data[2:], zdict) != expected:
                        problem = "inflates to different bytes"
                except (zlib.error, ValueError) as e:
                    problem = "does not inflate: %s" % e
            if problem is None and mode == "needs-history":
                try:
                    if inflate(data[2:], None) == expected:
                        problem = "inflates without history, expected a reference into it"
                except (zlib.error, ValueError):
                    pass
            if problem:
                failures += 1
                print("FAIL %s: %s" % (cmp_path, problem))
    print("checked %d blocks, %d failed" % (checked, failures))
    return 1 if failures or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())

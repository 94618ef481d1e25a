#!/usr/bin/env python3
"""Converts the UTF-8 resource script to code page 932 for windres.

windres reads escapes before it decodes the code page, so a Shift-JIS character whose
trail byte is 0x5C (a backslash, as in ソ or 表) would start an escape sequence and could
swallow the closing quote. Such trail bytes are written as the escape \\\\ instead.
"""

import sys


def convert(text: str) -> bytes:
    out = bytearray()
    for ch in text:
        encoded = ch.encode("cp932")
        if len(encoded) == 2 and encoded[1] == 0x5C:
            out += encoded[:1] + b"\\\\"
        else:
            out += encoded
    return bytes(out)


def main() -> int:
    source, target = sys.argv[1], sys.argv[2]
    with open(source, encoding="utf-8") as f:
        data = convert(f.read())
    with open(target, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())

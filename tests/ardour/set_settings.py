#!/usr/bin/env python3
"""Replaces the settings that the first Quillmere instance of an Ardour session holds, as a
project saved with a linked instance would hold them:

    set_settings.py SESSION_FILE 'SETTINGS_XML'

Ardour keeps a plug-in's state as a base64 <chunk>. A VST2 chunk is the plug-in's own binary
XML (magic, little-endian length of the text and its zero, text, zero); a VST3 chunk is a
preset stream (header with the offset of its chunk list, the component's state, the list)
whose component state frames the same binary XML in a VST2-style bank ("CcnK"). Every size
that frames the text changes with it.
"""
import base64
import re
import struct
import sys


def add(data, fmt, offset, delta):
    (value,) = struct.unpack_from(fmt, data, offset)
    struct.pack_into(fmt, data, offset, value + delta)


def main():
    path, settings = sys.argv[1], sys.argv[2]
    session = open(path, encoding="utf-8").read()
    found = re.search(r'<Processor [^>]*name="Quillmere".*?<chunk[^>]*>(.*?)</chunk>', session, re.S)
    if found is None:
        sys.exit(f"{path}: no Quillmere chunk")

    data = bytearray(base64.b64decode(found.group(1)))
    start = data.index(b"<?xml")
    end = data.index(b"\0", start)
    text = ('<?xml version="1.0" encoding="UTF-8"?> ' + settings).encode()
    delta = len(text) - (end - start)

    add(data, "<I", start - 4, delta)

    if not data.startswith(b"VC2!"):
        bank = data.index(b"CcnK")
        add(data, ">i", bank + 4, delta)  # the bank's size after its first 8 bytes
        add(data, ">i", bank + 156, delta)  # the size of the bank's chunk
        list_offset = struct.unpack_from("<q", data, 40)[0]
        entry = data.index(b"Comp", data.index(b"List", list_offset))
        struct.pack_into("<q", data, 40, list_offset + delta)
        add(data, "<q", entry + 12, delta)  # the component state's size

    data[start:end] = text
    session = session[: found.start(1)] + base64.b64encode(bytes(data)).decode() + session[found.end(1):]
    open(path, "w", encoding="utf-8").write(session)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Writes the seed corpora in fuzz/corpus/<target>/. The targets read their inputs with
FuzzedDataProvider: strings from the front (a backslash followed by another byte ends one), and
booleans and small integers from the back, one byte each. Run from anywhere; the output is
committed, so rerun only after changing a target's input layout."""
import os
import plistlib
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


class Input:
    def __init__(self):
        self.front = bytearray()
        self.back = bytearray()  # in consumption order; reversed at the end

    def string(self, text):
        data = text.encode("utf-8", "surrogateescape") if isinstance(text, str) else text
        self.front += data.replace(b"\\", b"\\\\") + b"\\x"
        return self

    def raw(self, data):
        self.front += data
        return self

    def byte(self, value, low=0):
        self.back.append(value - low)
        return self

    def u64(self, value):
        # ConsumeIntegral<uint64_t> takes 8 bytes from the back, the last byte first (most significant).
        for b in value.to_bytes(8, "big"):
            self.back.append(b)
        return self

    def bytes(self):
        return bytes(self.front) + bytes(reversed(self.back))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def queue_entry(inp, add, name, data, repeat=1, size_mode=0, size_text=None):
    inp.byte(1 if add else 0)
    inp.string(name).byte(repeat, 1)
    inp.string(data).byte(size_mode)
    if size_mode == 5:
        inp.string(size_text)


def queue_seeds():
    seeds = {
        "tone_and_title": [(True, "Song.m4r", "x" * 40), (True, "My Song", ""),
                           (False, "123.pid", ""), (False, "Old.m4r", "")],
        "catalogue": [(True, "Ringtones.plist", "<plist>catalogue</plist>"), (True, "Ringtones.plist.m4r", "0123456789"),
                      (True, ".m4r", "twelve bytes"), (False, ".pid", ""), (False, "123.pid.old", ""),
                      (False, "x.pid", ""), (False, " 18446744073709551616.pid", "")],
        "odd_names": [(True, "%s%s%n%x.m4r", "abcdefghijklmnop"), (True, "\udcff\udcfe.m4r", "abcdefghijklmnop"),
                      (True, "... ", ""), (True, ". ", "0123456789"), (False, "..\t", ""), (False, "%n.pid", ""),
                      (True, "\u4e2d\u6587\u94c3\u58f0", "")],
    }
    for name, entries in seeds.items():
        inp = Input().byte(1)
        for add, entry, data in entries:
            queue_entry(inp, add, entry, data)
        write("fuzz_queue_scan", name, inp.bytes())
    # Names around the path buffers (233 bytes is the longest tone name whose copy still fits), and
    # one of 5000 bytes.
    inp = Input().byte(0)
    queue_entry(inp, True, "a" * 228 + ".m4r", "y" * 30)
    queue_entry(inp, True, "b" * 229 + ".m4r", "y" * 30)
    queue_entry(inp, False, "c" * 229, "")
    queue_entry(inp, False, "c" * 230, "")
    queue_entry(inp, True, "d" * 200, "", repeat=25)
    write("fuzz_queue_scan", "long_names", inp.bytes())
    inp = Input().byte(1)
    queue_entry(inp, True, "Lie.m4r", "short", size_mode=5, size_text="-1")
    queue_entry(inp, True, "Huge.m4r", "short", size_mode=5, size_text="2147483648")
    queue_entry(inp, True, "Word.m4r", "short", size_mode=5, size_text="abc")
    queue_entry(inp, True, "Over.m4r", "0123456789abcdef", size_mode=7)
    inp.u64(0)  # the over-claim, from the back
    write("fuzz_queue_scan", "lying_sizes", inp.bytes())


def protocol_seeds():
    seeds = {
        "older": ["protocol_1.1.1", "protocol_1.1.0", "protocol_0.9", "protocol_"],
        "newer_by_bytes": ["protocol_1.1.10", "protocol_1.10", "protocol_1.1.1 "],
        "inside_name": ["xxprotocol_1.0", "my_protocol_9", "protocol_\udcff", ".", ".."],
    }
    for name, names in seeds.items():
        inp = Input().byte(1)
        for entry in names:
            inp.string(entry)
        write("fuzz_protocol_check", name, inp.bytes())
    write("fuzz_protocol_check", "no_folder", Input().byte(0).bytes())


def cfstring_seeds():
    # mode (0 stand-in, 1 cut with terminator, 2 no terminator, 3 raw bytes), none (0 = none), repeat
    cases = {
        "short_ascii": (1, 5, 1, "iPhone de Marie"),
        "cjk_cut": (1, 5, 64, "\u4e2d\u6587\u540d\u5b57"),
        "emoji_cut": (2, 5, 64, "\U0001F4F1x"),
        "stand_in_long": (0, 5, 40, "abc\u00e9\u00e8"),
        "raw_invalid": (3, 5, 50, "\udcc0\udcaf\udced\udca0\udc80 "),
        "none": (1, 0, 1, "ignored"),
    }
    for name, (mode, none, repeat, text) in cases.items():
        inp = Input().byte(mode).byte(none).byte(repeat, 1)
        inp.raw(text.encode("utf-8", "surrogateescape"))
        write("fuzz_cfstring_copy", name, inp.bytes())


def sync_plist_seeds():
    cases = {
        "insert_cjk": (1, 1, 1, "\u6211\u7684\u94c3\u58f0", []),
        "insert_invalid_utf8": (1, 0, 1, "bad \udcff\udcfe title", []),
        "delete_three": (0, 1, 1, "", [10012345, 2**63 - 1, 2**63 + 5]),
        "delete_none": (0, 0, 1, "", []),
        "insert_long": (1, 1, 32, "Long title ", [7]),
    }
    for name, (insert, folder, repeat, title, pids) in cases.items():
        inp = Input().byte(insert).byte(folder).byte(repeat, 1).string(title)
        for pid in pids:
            inp.u64(pid)
        write("fuzz_sync_plist", name, inp.bytes())


def plist_reader_seeds():
    trees = {
        "dict": {"operations": [{"operation": "delete_track", "pid": 123}], "revision": 1, "timestamp": 0},
        "types": {"t": True, "f": False, "r": 1.5, "d": b"\x00\x01", "u": "\u4e2d\u6587", "n": -72,
                  "big": 2**62, "a": [1, "two", [3.0]]},
        "nested": [[[[["deep"]]]], {"k": {"k": {"k": "v"}}}],
        "empty": {},
    }
    for name, tree in trees.items():
        write("fuzz_plist_reader", name, plistlib.dumps(tree, fmt=plistlib.FMT_BINARY))
    write("fuzz_plist_reader", "truncated", plistlib.dumps(trees["types"], fmt=plistlib.FMT_BINARY)[:-12])


if __name__ == "__main__":
    queue_seeds()
    protocol_seeds()
    cfstring_seeds()
    sync_plist_seeds()
    plist_reader_seeds()

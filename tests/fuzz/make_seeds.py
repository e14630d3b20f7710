#!/usr/bin/env python3
"""Writes the fuzzer's seed corpus: pairs of the bundled and test documents, in
the fuzzer's input layout (one split byte, the base, the added document)."""
import itertools
import os
import sys

out = sys.argv[1]
data = sys.argv[2]
os.makedirs(out, exist_ok=True)
docs = [open(os.path.join(data, n), "rb").read() for n in sorted(os.listdir(data)) if n.endswith(".xml")]
docs += [
    b'<packet><thread/><chat no="1">a</chat><chat no="001">b</chat><chat>c</chat></packet>',
    b'<packet><g><chat no="-1"/></g><chat no="+2"/><thread last_res="5"/></packet>',
    b'\xef\xbb\xbf<?xml version="1.0" encoding="UTF-8"?><packet><chat no="4294967297"/></packet>',
    # The top element is never a comment: a chat at the top, chats inside it.
    b'<chat no="7">root</chat>',
    b'<chat no="x"><chat no="8">in</chat><chat no="1"/></chat>',
    b'<log><chat no="9"/><g><chat no="2"/></g></log>',
]
for i, (a, b) in enumerate(itertools.product(docs, repeat=2)):
    split = (len(a) * 255) // max(1, len(a) + len(b))
    with open(os.path.join(out, f"seed-{i:03d}"), "wb") as f:
        f.write(bytes([split]) + a + b)

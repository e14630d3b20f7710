#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora: pairs of the bundled and test documents, in
the merge target's input layout (one split byte, the base, the added document);
and, given a third directory, single chats written every way for the chat-source
target."""
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

if len(sys.argv) > 3:
    chats = [
        b'<chat/>', b'<chat no="1"/>', b'<chat no="1">a</chat>',
        b'<chat no="2" vpos="10" date="1785567602" mail="184 big" user_id="4113d0">\xe3\x81\x82 &lt;&amp;&gt; "\'</chat>',
        b'<chat no="3" mail="a&amp;b&lt;&gt;&quot;\'">\t\n text</chat>',
        b"<chat no='4'>single</chat>", b'<chat  no="5"/>', b'<chat no="6" />', b'<chat no = "7"/>',
        b'<chat no="8"></chat>', b'<chat no="9">&apos;&quot;&#10;&#x3042;</chat>', b'<chat no="10" m="&#10;&#9;&#13;"/>',
        b'<chat no="11">a\r\nb</chat>', b'<chat no="12"><![CDATA[<x>]]></chat>', b'<chat no="13">a > b</chat >',
        b'<chat no="14" m="\xe8\x8a\xb1">\xf0\x9f\x98\x80</chat>', b'<chat no="15" m="a\tb"/>',
    ]
    os.makedirs(sys.argv[3], exist_ok=True)
    for i, chat in enumerate(chats):
        with open(os.path.join(sys.argv[3], f"chat-{i:02d}"), "wb") as f:
            f.write(chat)

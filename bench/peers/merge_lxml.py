#!/usr/bin/python3
"""Peer for the benchmark: the Zantrel merge written directly with lxml.

  merge_lxml.py FILE.xml [FILE.xml ...] --out OUT.xml --xsl data/convert.xsl

Same job as the command-line program: the input paths are sorted (code point
order, i.e. UTF-8 byte order: upper case before lower case), the first file is
the base, the `chat` children of the other files' `packet` are appended to the
base's `packet` in order, every chat whose number (`no`, compared as an integer,
so 007 == 7) occurred earlier is dropped (also inside the base), the tree goes
through the style sheet, /packet/thread/@last_res is set to the `no` of the last
chat, and the result is written as UTF-8 with an XML declaration.

Needs python3-lxml (Debian), hence /usr/bin/python3 in the first line.
Exit status 0 = saved, 1 = error.
"""
import argparse
import os
import sys

from lxml import etree


def chat_key(no):
    """Integer value of a `no` attribute; the stripped text if it is not one."""
    try:
        return int(no)
    except (TypeError, ValueError):
        return ("str", (no or "").strip())


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("files", nargs="+")
    ap.add_argument("--out", required=True)
    ap.add_argument("--xsl", required=True)
    a = ap.parse_args()
    if len(a.files) < 2:
        ap.error("need at least two input files")

    # Same safety as the program: no network, no entity expansion, no DTD loading.
    parser = etree.XMLParser(remove_blank_text=True, resolve_entities=False, no_network=True,
                             load_dtd=False, huge_tree=True)
    files = sorted(a.files)

    base = etree.parse(files[0], parser)
    packet = base.getroot()
    if packet.tag != "packet" or packet.find("thread") is None:
        sys.exit("%s: not a comment file (root packet with a thread)" % files[0])

    seen = set()
    add = seen.add
    # Duplicates inside the base itself: keep the first of each number.
    dups = []
    for chat in packet.iterchildren("chat"):
        k = chat_key(chat.get("no"))
        if k in seen:
            dups.append(chat)
        else:
            add(k)
    for chat in dups:
        packet.remove(chat)

    append = packet.append
    for path in files[1:]:
        root = etree.parse(path, parser).getroot()
        if root.tag != "packet":
            sys.exit("%s: root is <%s>, not <packet>" % (path, root.tag))
        # Materialise the list first: append() moves the element out of `root`.
        for chat in list(root.iterchildren("chat")):
            k = chat_key(chat.get("no"))
            if k not in seen:
                add(k)
                append(chat)
        del root

    transform = etree.XSLT(etree.parse(a.xsl, etree.XMLParser(no_network=True)))
    result = transform(base)
    del base, packet
    out_root = result.getroot()
    thread = out_root.find("thread") if out_root is not None else None
    if thread is None:
        sys.exit("style sheet result has no /packet/thread")
    last = next(out_root.iterchildren("chat", reversed=True), None)
    if last is not None:
        thread.set("last_res", last.get("no", ""))

    # Serialise with the style sheet's xsl:output (UTF-8, declaration, indent);
    # written beside the target first, then moved over it (all or nothing).
    tmp = "%s.tmp%d" % (a.out, os.getpid())
    try:
        result.write_output(tmp)
        os.replace(tmp, a.out)
    finally:
        if os.path.exists(tmp):
            os.unlink(tmp)
    return 0


if __name__ == "__main__":
    sys.exit(main())

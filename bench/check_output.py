#!/usr/bin/env python3
"""Check a merged Zantrel output against the expectation of gen_workload.py.

Usage: check_output.py MERGED.xml EXPECT.json

EXPECT.json is the JSON printed by gen_workload.py ("expected_ranges" as
inclusive [first, last] runs, or "expected_numbers" as a plain list, plus
"expected_last_res").  A plain text file with one number per line (the output
of gen_workload.py --expect) is accepted too; its last number is then the
expected last_res.
Checks: root is <packet>; /packet/thread exists and its last_res equals the
expected one; the `no` values of the chat children of packet, in document
order, equal the expected sequence (so no duplicates, order kept).
Prints a one-line verdict; exit status 0 = OK, 1 = mismatch or error.
"""
import json
import sys
import xml.etree.ElementTree as ET


def load_expect(path):
    with open(path, encoding="utf-8") as f:
        raw = f.read()
    try:
        d = json.loads(raw)
    except ValueError:
        d = None
    if not isinstance(d, dict):
        nums = [int(x) for x in raw.split()]
        return nums, (nums[-1] if nums else None)
    if "expected_numbers" in d:
        nums = [int(x) for x in d["expected_numbers"]]
    else:
        nums = [n for a, b in d["expected_ranges"] for n in range(int(a), int(b) + 1)]
    last = d.get("expected_last_res", nums[-1] if nums else None)
    return nums, (int(last) if last is not None else None)


def main():
    if len(sys.argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    merged, expect_path = sys.argv[1], sys.argv[2]
    try:
        exp, exp_last = load_expect(expect_path)
    except (OSError, ValueError, KeyError, TypeError) as e:
        print("FAIL: cannot read expectation %s: %s" % (expect_path, e))
        return 1

    got = []
    bad_no = 0
    thread_last = None
    thread_count = 0
    root_tag = None
    depth = 0
    root = None
    try:
        for ev, el in ET.iterparse(merged, events=("start", "end")):
            if ev == "start":
                depth += 1
                if depth == 1:
                    root, root_tag = el, el.tag
                elif depth == 2 and el.tag == "thread":
                    thread_count += 1
                    if thread_count == 1:
                        thread_last = el.get("last_res")
                continue
            depth -= 1
            if depth == 1:
                if el.tag == "chat":
                    no = el.get("no")
                    try:
                        got.append(int(no))
                    except (TypeError, ValueError):
                        bad_no += 1
                root.clear()  # keep memory flat
    except (ET.ParseError, OSError) as e:
        print("FAIL: %s: cannot parse: %s" % (merged, e))
        return 1

    problems = []
    if root_tag != "packet":
        problems.append("root is <%s>, not <packet>" % root_tag)
    if thread_count != 1:
        problems.append("%d thread elements under packet (want 1)" % thread_count)
    if bad_no:
        problems.append("%d chats without a valid integer no" % bad_no)
    if thread_last is None:
        problems.append("no last_res on thread")
    elif thread_last.strip() != str(exp_last):
        problems.append("last_res=%s, expected %s" % (thread_last, exp_last))
    if got != exp:
        dups = len(got) - len(set(got))
        i = next((i for i, (g, e) in enumerate(zip(got, exp)) if g != e), min(len(got), len(exp)))
        g = got[i] if i < len(got) else "<end>"
        e = exp[i] if i < len(exp) else "<end>"
        problems.append("chat sequence differs: %d chats (expected %d), %d duplicate no, "
                        "first difference at index %d: got %s, expected %s"
                        % (len(got), len(exp), dups, i, g, e))
    if problems:
        print("FAIL: %s: %s" % (merged, "; ".join(problems)))
        return 1
    print("OK: %s: %d chats in expected order, last_res=%s" % (merged, len(got), thread_last))
    return 0


if __name__ == "__main__":
    sys.exit(main())

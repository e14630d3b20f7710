#!/usr/bin/env python3
"""Deterministic workload generator for Zantrel (invented data, stdlib only).

Usage:
  gen_workload.py OUTDIR --files F --chats C [--overlap 0.5] [--seed 1] [--big C2]
                  [--quote single] [--encoding Shift_JIS]
  gen_workload.py OUTDIR ... --expect

Writes OUTDIR/part_000.xml ... (F files of C chats each).  File k+1 begins with
the last round(overlap*C) chats of file k (byte-identical), then new chats with
increasing numbers (occasionally skipping a number).
--big C2  workload W3: one file of C chats plus one small file of C2 chats
          whose first round(overlap*C2) chats repeat the end of the big file.
Prints a JSON summary on stdout (also saved as OUTDIR/expect.json); feed that
file to check_output.py.  Expected numbers are stored as inclusive runs
"expected_ranges": [[first, last], ...] in expected output order.
--quote single  attribute values in single quotes (as some archives are written)
--encoding Shift_JIS  files declared and written in Shift_JIS; characters it
          cannot hold are written as character references
--expect  writes nothing; prints the expected unique chat numbers, one per line
          (first file's chats in order, then the new ones of each later file).
"""
import argparse
import json
import os
import random
import sys

THREAD_ID = 1200000001
START_NO = 1
START_DATE = 1785567600  # invented base time (Unix seconds)
GAP_RATE = 0.01          # probability that a number is skipped before a new chat

MAILS = ["red", "big", "small", "top", "bottom", "big red", "small blue", "green top"]

KANJI = ("日本語花火夏祭大会空海山川雨風雪月星光音色人子女男手目口耳心気"
         "見行来帰食飲話聞読書今明昨時分年上下中大小長高新古良悪多少早")


def _char_pool(rng, n):
    """A long random string that chat texts are cut from."""
    groups = [
        ([chr(c) for c in range(0x3041, 0x3094)], 45),            # hiragana
        ([chr(c) for c in range(0x30A1, 0x30F4)] + ["ー"], 15),   # katakana
        (list(KANJI), 15),                                         # kanji
        (list("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 !?.,:-"), 15),
        (["ｗ", "！", "？", "…", "、", "。", "　"], 5),
        ([chr(c) for c in range(0x1F600, 0x1F640)] + ["\U0001F386", "\U0001F387", "\U0001F389"], 3),
        (["&", "<", ">", '"', "'"], 2),                            # need escaping
    ]
    chars, weights = [], []
    for cs, w in groups:
        chars.extend(cs)
        weights.extend([w / len(cs)] * len(cs))
    return "".join(rng.choices(chars, weights=weights, k=n))


def esc(s):
    if "&" in s:
        s = s.replace("&", "&amp;")
    if "<" in s:
        s = s.replace("<", "&lt;")
    if ">" in s:
        s = s.replace(">", "&gt;")
    return s


def plan(sizes, overlap):
    """Per file: (number of chats copied from the previous file, sizes)."""
    ovs = [0]
    for k in range(1, len(sizes)):
        ovs.append(min(int(round(overlap * sizes[k])), sizes[k - 1], sizes[k]))
    return ovs


def chat_numbers(sizes, ovs, seed):
    """Numbers of the NEW chats of each file (numbers use their own RNG)."""
    rng = random.Random(seed * 1000003 + 17)
    no = START_NO - 1
    out = []
    for size, ov in zip(sizes, ovs):
        nums = []
        for _ in range(size - ov):
            no += 2 if rng.random() < GAP_RATE else 1
            nums.append(no)
        out.append(nums)
    return out


def to_ranges(nums):
    ranges = []
    for n in nums:
        if ranges and ranges[-1][1] + 1 == n:
            ranges[-1][1] = n
        else:
            ranges.append([n, n])
    return ranges


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("outdir")
    ap.add_argument("--files", type=int, default=2)
    ap.add_argument("--chats", type=int, required=True)
    ap.add_argument("--overlap", type=float, default=0.5)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--big", type=int, metavar="C2", default=None)
    ap.add_argument("--quote", choices=["double", "single"], default="double")
    ap.add_argument("--encoding", choices=["UTF-8", "Shift_JIS"], default="UTF-8")
    ap.add_argument("--expect", action="store_true")
    a = ap.parse_args()
    if a.chats < 1 or a.files < 1 or not 0.0 <= a.overlap <= 1.0 or (a.big is not None and a.big < 1):
        ap.error("need --chats >= 1, --files >= 1, 0 <= --overlap <= 1, --big >= 1")

    sizes = [a.chats, a.big] if a.big is not None else [a.chats] * a.files
    ovs = plan(sizes, a.overlap)
    new_nums = chat_numbers(sizes, ovs, a.seed)

    if a.expect:
        out = sys.stdout
        for nums in new_nums:
            out.write("\n".join(map(str, nums)))
            if nums:
                out.write("\n")
        return

    rng = random.Random(a.seed)
    pool = _char_pool(rng, 1 << 20)
    pool_max = len(pool) - 61
    rnd, randint, getrandbits = rng.random, rng.randint, rng.getrandbits
    os.makedirs(a.outdir, exist_ok=True)

    files = []
    prev = []           # serialized chat lines of the previous file
    date = START_DATE
    total = 0
    q = "'" if a.quote == "single" else '"'
    chat_form = '<chat no="%d" vpos="%d" date="%d" user_id="%016x"%s>%s</chat>'.replace('"', q)
    mail_form = ' mail="%s"'.replace('"', q)
    for k, (size, ov, nums) in enumerate(zip(sizes, ovs, new_nums)):
        lines = prev[len(prev) - ov:] if ov else []
        vpos = 0
        for no in nums:
            date += randint(0, 3)
            vpos += randint(0, 40)
            off = randint(0, pool_max)
            text = esc(pool[off:off + randint(5, 60)])
            r = rnd()
            mail = (mail_form % MAILS[int(r * 80)]) if r < 0.1 else ""
            lines.append(chat_form % (no, vpos, date, getrandbits(64), mail, text))
        last_no = nums[-1] if nums else int(lines[-1][10:lines[-1].index(q, 10)])
        head = ('<?xml version="1.0" encoding="%s"?>\n<packet>\n'
                '<thread thread="%d" last_res="%d" ticket="0x%08x" server_time="%d"/>\n'
                % (a.encoding, THREAD_ID, last_no, getrandbits(32), date + 60))
        path = os.path.join(a.outdir, "part_%03d.xml" % k)
        with open(path, "w", encoding=a.encoding.lower().replace("-", "_"), errors="xmlcharrefreplace",
                  newline="\n") as f:
            f.write(head + "\n".join(lines) + "\n</packet>\n")
        files.append({"path": path, "chats": len(lines), "overlap_with_previous": ov, "last_no": last_no})
        total += len(lines)
        prev = lines

    expected = [n for nums in new_nums for n in nums]
    summary = {
        "workload": "W3" if a.big is not None else "multi",
        "seed": a.seed,
        "overlap": a.overlap,
        "files": files,
        "total_chats": total,
        "expected_unique": len(expected),
        "expected_last_res": files[-1]["last_no"],
        "expected_ranges": to_ranges(expected),
    }
    js = json.dumps(summary, separators=(",", ":"))
    with open(os.path.join(a.outdir, "expect.json"), "w", encoding="utf-8") as f:
        f.write(js + "\n")
    sys.stdout.write(js + "\n")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes a board of N messages for the benchmarks: a message file in
Shift_JIS (bodies of about 300 bytes, threads of 1 to 10 messages, some
attachments stored in directories named by the thread root id) and a JSON
file naming the messages the benchmark requests use.

    bench/gen_board.py DATADIR --messages N [--seed S] [--password PW]
                       [--meta FILE] [--days-ago D]

The file is laid out as the board keeps it: the thread that last got a post
first, each thread's replies newest first and its root last. Every message
carries the hashed password PW. Runs are reproducible for a given seed.
The newest message is an hour old, or D days more with --days-ago (an old
log whose ids must not meet the board's).
"""
import argparse
import json
import os
import random
import sys
import time

RS, GS = b"\x1e", b"\x1d"
CODE_TABLE = "%&!$#zZ0yY9xX8wWvV7uUtT6sS5rR4qQpP3nN2mMkK1jJhHgGfFeEdDcCbBaAoil"

# Search words; no other text of the generator contains them, so the
# number of hits is set by the two rates below.
WORD_A, WORD_B = "天体観測", "流星群"
RATE_A, RATE_B = 0.08, 0.06

NAMES = ["山田太郎", "佐藤花子", "鈴木一郎", "高橋", "田中", "伊藤美咲", "渡辺", "中村",
         "小林", "加藤", "吉田", "山本", "管理人", "名無し", "みかん", "さくら", "ゆう"]
TOPICS = ["はじめまして", "質問があります", "今日の出来事", "おすすめの本", "旅行の記録",
          "料理のレシピ", "写真を撮りました", "イベントのお知らせ", "雑談スレッド",
          "パソコンの調子", "ゲームの話", "音楽の話題", "庭の花", "週末の予定", "近況報告"]
SENTENCES = [
    "こんにちは、いつも楽しく拝見しています。",
    "先日の件について、少しだけ補足させてください。",
    "駅前の商店街に新しいお店ができていました。",
    "思ったより時間がかかりましたが、なんとか完成しました。",
    "皆さんはどのように過ごされていますか。",
    "昨日は雨が降っていたので、家で本を読んでいました。",
    "詳しい方がいらっしゃいましたら、教えていただけると助かります。",
    "写真を添付しましたので、よろしければご覧ください。",
    "私も同じことで悩んでいたので、とても参考になりました。",
    "来月の集まりには、ぜひ参加したいと思っています。",
    "説明書を読んでも、よく分からない部分がありました。",
    "ありがとうございます。さっそく試してみます。",
    "少し遠回りをして、川沿いの道を歩いて帰りました。",
    "古い機械ですが、まだまだ元気に動いています。",
    "今年は例年よりも花が咲くのが早いようです。",
    "ご返信が遅くなってしまい、申し訳ありません。",
]
SENT_A = "昨夜は近くの丘で" + WORD_A + "をしてきました。"
SENT_B = "来週は" + WORD_B + "が見られるそうです。"


def crypt_ex(password, salt):
    """The board's stored password for a typed one: "*" + salt + code + "*"."""
    rot = (sum(ord(c) for c in salt) % 9) + 1
    table = [CODE_TABLE[(i + rot) % 64] for i in range(64)]

    def mapc(c):
        if c == "+":
            return "+"
        if "a" <= c <= "z":
            c = chr(ord(c) - 32)
        idx = (ord(c) - 0x20) & 0xFF
        return table[min(idx, 63)]

    a = "".join(mapc(c) for c in password)
    b = "".join(mapc(c) for c in a)
    c = "".join(mapc(ch) for ch in b)
    return "*" + salt + (a + "+" + b + "+" + c)[:8] + "*"


def body(rng, quote=None):
    """A message body of about 300 Shift_JIS bytes, lines of sentences."""
    lines = []
    if quote:
        lines.append("> " + quote)
    size = 0
    line = ""
    if rng.random() < RATE_A:
        line += SENT_A
    if rng.random() < RATE_B:
        line += SENT_B
    while size + len(line.encode("cp932")) < 290:
        line += rng.choice(SENTENCES)
        if rng.random() < 0.4:
            lines.append(line)
            size += len(line.encode("cp932")) + 1
            line = ""
    if line:
        lines.append(line)
    if rng.random() < 0.1:
        lines.append("http://www.example.jp/page%d.html" % rng.randrange(1000))
    return "\n".join(lines)


def quote_line(text):
    """The line a reply quotes: the parent's first own line, cut short, and
    never one holding a search word (that would change the hit rates)."""
    for line in text.split("\n"):
        if not line.startswith(">") and WORD_A not in line and WORD_B not in line:
            return line[:20]
    return None


def record(fields, attach):
    """One line of the message file from str fields (Shift_JIS encoded)."""
    enc = [f.encode("cp932") for f in fields[:12]]
    enc[8] = enc[8].replace(b"\n", GS)
    parts = enc + [b""] * 8 + [fields[12].encode("cp932")]
    for name, key in attach:
        parts += [name.encode(), key.encode()]
    return RS.join(parts) + b"\n"


GIF = (b"GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00"
       b"\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("datadir")
    ap.add_argument("--messages", type=int, required=True)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--password", default="benchpass")
    ap.add_argument("--meta", default=None)
    ap.add_argument("--days-ago", type=int, default=0)
    args = ap.parse_args()
    rng = random.Random(args.seed)

    sizes = []
    left = args.messages
    while left > 0:
        k = min(rng.randint(1, 10), left)
        sizes.append(k)
        left -= k
    # Roots one minute apart, ending an hour ago; replies a few seconds
    # after their root, so ids grow with posting time as the board's do.
    now_ms = int(time.time()) * 1000
    base = now_ms - (3600 + args.days_ago * 86400) * 1000 - len(sizes) * 60000
    threads = []  # oldest first
    for t, k in enumerate(sizes):
        root_id = base + t * 60000
        topic = rng.choice(TOPICS)
        msgs = []
        for j in range(k):
            mid = root_id + j * 1000 + rng.randrange(1000 if j else 1)
            if j == 0:
                pid = ppid = ""
                title = topic
                quote = None
            else:
                parent = rng.choice(msgs)
                pid, ppid = parent["id"], str(root_id)
                title = "Re: " + topic
                quote = quote_line(parent["mess"])
            name = rng.choice(NAMES)
            salt = rng.choice(CODE_TABLE) + rng.choice(CODE_TABLE)
            msgs.append({
                "id": str(mid), "pid": pid, "ppid": ppid, "title": title, "name": name,
                "date": time.strftime("%Y/%m/%d %H:%M:%S", time.localtime(mid // 1000)),
                "mail": ("user%d@example.jp" % rng.randrange(500)) if rng.random() < 0.3 else "",
                "home": ("http://www.example.jp/~u%d/" % rng.randrange(500))
                        if rng.random() < 0.2 else "",
                "mess": body(rng, quote), "passwd": crypt_ex(args.password, salt),
                "icon": str(rng.randint(1, 10)) if rng.random() < 0.5 else "",
                "attach": [],
            })
        if rng.random() < 0.05:
            for n in range(rng.randint(1, 3)):
                m = rng.choice(msgs)
                fname = ("photo%d.gif" % n) if n % 2 == 0 else ("memo%d.txt" % n)
                m["attach"].append((fname, str(root_id)))
        threads.append(msgs)

    os.makedirs(args.datadir, exist_ok=True)
    path = os.path.join(args.datadir, "bbs-message.dat")
    with open(path, "wb") as f:
        for msgs in reversed(threads):
            for m in list(reversed(msgs[1:])) + [msgs[0]]:
                f.write(record([m["id"], m["pid"], m["ppid"], m["date"], m["name"], m["mail"],
                                m["home"], m["title"], m["mess"], m["passwd"], "", "",
                                m["icon"]], m["attach"]))
                for fname, key in m["attach"]:
                    d = os.path.join(args.datadir, key)
                    os.makedirs(d, exist_ok=True)
                    with open(os.path.join(d, fname), "wb") as af:
                        af.write(GIF if fname.endswith(".gif") else
                                 ("添付のメモです。\n" * 20).encode("cp932"))
    os.chmod(path, 0o666)

    # Picks: threads from the middle of the file (the newest first), so
    # that lookups walk half the records.
    order = list(reversed(threads))
    mid = len(order) // 2
    with_attach = [i for i in range(mid, len(order)) if any(m["attach"] for m in order[i])]
    multi = [i for i in range(mid, len(order)) if len(order[i]) > 1]
    deleted = order[with_attach[0] if with_attach else mid]
    edited = order[multi[0] if multi else mid]
    target = edited[-1]
    meta = {
        "messages": args.messages, "threads": len(threads), "password": args.password,
        "file_bytes": os.path.getsize(path),
        "open_root": order[mid][0]["id"],
        "reply_to": order[mid][0]["id"],
        "edit": {k: target[k] for k in ("id", "pid", "ppid", "title", "name")},
        "delete_id": deleted[0]["id"],
        "delete_has_attach": bool(with_attach),
        "words": [WORD_A, WORD_B],
    }
    text = json.dumps(meta, ensure_ascii=False, indent=1)
    if args.meta:
        with open(args.meta, "w", encoding="utf-8") as f:
            f.write(text + "\n")
    else:
        print(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Writes a carving benchmark image: SIZE MiB of random bytes with COUNT real JPEGs (made by
PIL, 160-640 pixels wide, smooth pictures with noise) planted at random sector starts, never
overlapping, and IMAGE.json listing each one's offset, size and sha256.

usage: make-jpeg-image.py IMAGE SIZE_MIB COUNT [SEED]"""

import hashlib, io, json, os, random, sys

from PIL import Image, ImageDraw, ImageFilter

path, size_mib, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(int(sys.argv[4]) if len(sys.argv) > 4 else 7)
size = size_mib << 20


def picture():
    w, h = rng.randrange(160, 641, 16), rng.randrange(120, 481, 16)
    img = Image.new("RGB", (w, h), tuple(rng.randrange(256) for _ in range(3)))
    d = ImageDraw.Draw(img)
    for _ in range(rng.randrange(5, 30)):
        box = sorted(rng.randrange(w) for _ in range(2)), sorted(rng.randrange(h) for _ in range(2))
        d.ellipse((box[0][0], box[1][0], box[0][1], box[1][1]), fill=tuple(rng.randrange(256) for _ in range(3)))
    img = img.filter(ImageFilter.GaussianBlur(2))
    noise = Image.effect_noise((w, h), rng.randrange(5, 40)).convert("RGB")
    img = Image.blend(img, noise, 0.15)
    out = io.BytesIO()
    img.save(out, "JPEG", quality=rng.randrange(60, 96))
    return out.getvalue()


files = [picture() for _ in range(count)]
slots = size // 512
taken = []
planted = []
for data in files:
    need = (len(data) + 511) // 512 + 1
    while True:
        s = rng.randrange(1, slots - need)
        if all(s + need <= a or s >= b for a, b in taken):
            break
    taken.append((s, s + need))
    planted.append({"offset": s * 512, "size": len(data), "sha256": hashlib.sha256(data).hexdigest()})
planted.sort(key=lambda p: p["offset"])
with open(path, "wb") as f:
    for _ in range(size_mib):
        f.write(os.urandom(1 << 20))
    for (s, _), data in zip(taken, files):
        f.seek(s * 512)
        f.write(data)
with open(path + ".json", "w") as f:
    json.dump({"size": size, "files": planted}, f)

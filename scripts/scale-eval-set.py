#!/usr/bin/python3
"""Writes a copy of the evaluation set's fill objects with every photo, mask
and stroke enlarged by a whole factor: a stand-in for the same photos scanned
at a higher resolution, where the fill's reduced cut sees them at another
size than the set's own.

  scale-eval-set.py SET.json OUT_DIR FACTOR

SET.json is the bench build's copy (build-bench/bench/evalset/evalset.json),
whose photos exist; OUT_DIR gets photos/, masks/ and evalset.json. Photos are
enlarged bicubically, masks by repeating pixels; a stroke's points go to the
centres of the pixels they stood for and its width grows by the factor, so
it covers what it covered before. Spread scribbles are left out. Run the fill
on it with BRIVELA_EVALSET=OUT_DIR/evalset.json."""
import json
import os
import sys

from PIL import Image


def main():
    if len(sys.argv) != 4 or int(sys.argv[3]) < 1:
        sys.exit(__doc__)
    source, out, factor = sys.argv[1], sys.argv[2], int(sys.argv[3])
    base = os.path.dirname(os.path.abspath(source))
    with open(source) as f:
        evalset = json.load(f)
    for folder in ("photos", "masks"):
        os.makedirs(os.path.join(out, folder), exist_ok=True)

    def enlarge(relative, resample):
        with Image.open(os.path.join(base, relative)) as image:
            image.resize((image.width * factor, image.height * factor), resample).save(os.path.join(out, relative))

    def stroke(s):
        s = dict(s)
        s["points"] = [[x * factor + factor // 2, y * factor + factor // 2] for x, y in s["points"]]
        s["width"] = s["width"] * factor
        s.pop("pixelCount", None)
        return s

    photos = []
    for photo in evalset["photos"]:
        if not photo.get("objects"):
            continue
        photo = dict(photo)
        photo.pop("scribbles", None)
        photo.pop("superpixels", None)
        enlarge(photo["grey"], Image.BICUBIC)
        if photo["colour"] != photo["grey"]:
            enlarge(photo["colour"], Image.BICUBIC)
        photo["width"] *= factor
        photo["height"] *= factor
        objects = []
        for o in photo["objects"]:
            o = dict(o)
            enlarge(o["mask"], Image.NEAREST)
            o["keep"] = [stroke(s) for s in o["keep"]]
            o["remove"] = [stroke(s) for s in o["remove"]]
            o["shortKeep"] = stroke(o["shortKeep"])
            if "area" in o:
                o["area"] *= factor * factor
            for key in ("diameter", "margin"):
                if key in o:
                    o[key] *= factor
            objects.append(o)
        photo["objects"] = objects
        photos.append(photo)
    evalset["photos"] = photos
    with open(os.path.join(out, "evalset.json"), "w") as f:
        json.dump(evalset, f)
    print(f"{len(photos)} photos, enlarged {factor} x, in {out}")


if __name__ == "__main__":
    main()

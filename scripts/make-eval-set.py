#!/usr/bin/python3
"""Writes Brivela's evaluation set from real colour photos that Debian ships
(python3-skimage's data folder and opencv-doc's samples).

  make-eval-set.py              the whole set: truth masks, inputs, photos and
                                the JSON, into bench/evalset/ and tests/data/eval/
  make-eval-set.py --photos [DIR]
                                only the bench set's grey and colour photos,
                                from the Debian files, into DIR beside a copy
                                of the JSON and the masks (the bench build's
                                step); needs Pillow and NumPy only
  make-eval-set.py --overlays DIR
                                the whole set, then one picture per object and
                                per spread photo into DIR, to be looked at

The algorithms see only the grey photo (Rec. 601 luma of the colour photo,
rounded); truth comes from the colour photo. Each object's true region is made
by the recipe named beside it below (colour GrabCut with a hand-set rectangle
and hint polygons, colour thresholds, morphology, a chosen connected
component, hand-drawn corrections) and was checked by eye on an overlay. The
masks are committed and are the checked truth: a later OpenCV may cut
differently, so --photos never rewrites them.

Strokes are laid as a person would: smooth curves inside the object kept a
margin off its boundary (keep), curves in a band around it (remove), one short
keep stroke, and for the colour spread one short scribble per superpixel in
that superpixel's true median colour. Every random choice comes from a
generator seeded with the seed and the object's name, so a run writes the
same files."""
import argparse
import hashlib
import json
import math
import sys
import zlib
from pathlib import Path

import numpy as np
from PIL import Image, ImageDraw

SEED = 20250611
SKIMAGE = "/usr/lib/python3/dist-packages/skimage/data"
OPENCV = "/usr/share/doc/opencv-doc/examples/data"
ROOT = Path(__file__).resolve().parent.parent
BENCH_DIR = ROOT / "bench" / "evalset"
TEST_DIR = ROOT / "tests" / "data" / "eval"
SPREAD_PIXELS = 160000
TEST_LONG_SIDE = 300

# name: (Debian package, file)
SOURCES = {
    "fruits": ("opencv-doc", OPENCV + "/fruits.jpg"),
    "apple": ("opencv-doc", OPENCV + "/apple.jpg"),
    "coffee": ("python3-skimage", SKIMAGE + "/coffee.png"),
    "building": ("opencv-doc", OPENCV + "/building.jpg"),
    "astronaut": ("python3-skimage", SKIMAGE + "/astronaut.png"),
    "motorcycle": ("python3-skimage", SKIMAGE + "/motorcycle_left.png"),
    "ihc": ("python3-skimage", SKIMAGE + "/ihc.png"),
    "coins": ("python3-skimage", SKIMAGE + "/coins.png"),
    "chelsea": ("python3-skimage", SKIMAGE + "/chelsea.png"),
    "butterfly": ("opencv-doc", OPENCV + "/butterfly.jpg"),
}

# Photos coloured whole from scribbles, reduced to at most SPREAD_PIXELS.
SPREAD_PHOTOS = ["astronaut", "chelsea", "coffee", "fruits", "motorcycle", "butterfly", "building"]

# The reduced subset in the test tree: photos, and the objects of each.
TEST_PHOTOS = {
    "fruits": ["orange-slice", "lemon"],
    "coffee": ["crema", "cup"],
    "astronaut": ["suit", "face"],
    "coins": ["coin-large", "coin-helmet"],
}


# ---------------------------------------------------------------- pixels

def load_colour(path):
    return np.asarray(Image.open(path).convert("RGB"), dtype=np.uint8)


def luma(rgb):
    """Rec. 601 luma, rounded half up; the C++ side computes the same."""
    r, g, b = (rgb[..., i].astype(np.int32) for i in range(3))
    return ((299 * r + 587 * g + 114 * b + 500) // 1000).astype(np.uint8)


def area_weights(n, m):
    """Rows of the m x n matrix that averages n samples into m by the
    overlap of each output cell with each input sample."""
    w = np.zeros((m, n))
    scale = n / m
    for i in range(m):
        a, b = i * scale, (i + 1) * scale
        for j in range(int(math.floor(a)), min(n, int(math.ceil(b)))):
            w[i, j] = min(b, j + 1) - max(a, j)
    return w / scale


def area_reduce(img, width, height):
    """Area averaging, in float, rounded half up."""
    wy = area_weights(img.shape[0], height)
    wx = area_weights(img.shape[1], width)
    f = img.astype(np.float64)
    if f.ndim == 2:
        out = wy @ f @ wx.T
    else:
        out = np.stack([wy @ f[..., c] @ wx.T for c in range(f.shape[2])], axis=-1)
    return out


def reduce_colour(rgb, width, height):
    return np.clip(np.floor(area_reduce(rgb, width, height) + 0.5), 0, 255).astype(np.uint8)


def reduce_mask(mask, width, height):
    """A pixel of the reduced mask is inside when at least half of it was."""
    return area_reduce(mask.astype(np.float64), width, height) >= 0.5


def size_for_pixels(w, h, pixels):
    if w * h <= pixels:
        return w, h
    s = math.sqrt(pixels / (w * h))
    return int(w * s), int(h * s)


def size_for_long_side(w, h, side):
    s = side / max(w, h)
    return max(1, round(w * s)), max(1, round(h * s))


def save_png(array, path):
    """PNG without a time stamp, so that equal pixels give equal files."""
    Image.fromarray(array).save(path, optimize=True)


def sha256(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


# ---------------------------------------------------------------- truth helpers

def polygon(shape, points):
    img = Image.new("L", (shape[1], shape[0]), 0)
    ImageDraw.Draw(img).polygon([tuple(p) for p in points], fill=255)
    return np.asarray(img) > 0


def disc(radius):
    r = int(math.ceil(radius))
    y, x = np.mgrid[-r:r + 1, -r:r + 1]
    return x * x + y * y <= radius * radius


def opening(mask, radius):
    from scipy import ndimage
    return ndimage.binary_opening(mask, disc(radius), border_value=0) if radius > 0 else mask


def closing(mask, radius):
    """Closing that treats the photo's border as neither inside nor outside."""
    from scipy import ndimage
    if radius <= 0:
        return mask
    r = int(math.ceil(radius)) + 1
    padded = np.pad(mask, r, mode="edge")
    closed = ndimage.binary_closing(padded, disc(radius))
    return closed[r:-r, r:-r]


def component_at(mask, *points):
    """The connected parts (8-neighbour) of the mask that hold the points."""
    from scipy import ndimage
    labels, _ = ndimage.label(mask, structure=np.ones((3, 3)))
    keep = {labels[y, x] for x, y in points} - {0}
    if not keep:
        raise RuntimeError("no component at %s" % (points,))
    return np.isin(labels, list(keep))


def largest_components(mask, count=1):
    from scipy import ndimage
    labels, n = ndimage.label(mask, structure=np.ones((3, 3)))
    if n == 0:
        return mask
    sizes = ndimage.sum(mask, labels, range(1, n + 1))
    order = np.argsort(sizes)[::-1][:count] + 1
    return np.isin(labels, order)


def fill_holes(mask, max_area=None):
    """Fills enclosed holes (4-connected background not reaching the border),
    all of them or those up to max_area pixels."""
    from scipy import ndimage
    holes = ~mask
    labels, n = ndimage.label(holes)
    border = set(np.unique(np.concatenate([labels[0], labels[-1], labels[:, 0], labels[:, -1]])))
    out = mask.copy()
    if n == 0:
        return out
    sizes = ndimage.sum(holes, labels, range(1, n + 1))
    for i in range(1, n + 1):
        if i in border:
            continue
        if max_area is None or sizes[i - 1] <= max_area:
            out |= labels == i
    return out


def grabcut(rgb, rect, fg=(), bg=(), iterations=10, seed=0):
    """Colour GrabCut inside rect (x0, y0, x1, y1), with polygons (or masks)
    of sure foreground and sure background."""
    import cv2
    h, w = rgb.shape[:2]
    m = np.full((h, w), cv2.GC_BGD, np.uint8)
    x0, y0, x1, y1 = rect
    m[max(0, y0):min(h, y1), max(0, x0):min(w, x1)] = cv2.GC_PR_FGD
    for p in bg:
        m[p if isinstance(p, np.ndarray) else polygon(m.shape, p)] = cv2.GC_BGD
    for p in fg:
        m[p if isinstance(p, np.ndarray) else polygon(m.shape, p)] = cv2.GC_FGD
    cv2.setRNGSeed(seed)
    bgd = np.zeros((1, 65), np.float64)
    fgd = np.zeros((1, 65), np.float64)
    cv2.grabCut(np.ascontiguousarray(rgb[..., ::-1]), m, None, bgd, fgd, iterations, cv2.GC_INIT_WITH_MASK)
    return (m == cv2.GC_FGD) | (m == cv2.GC_PR_FGD)


def hsv(rgb):
    """Hue in degrees, saturation and value in 0..1."""
    f = rgb.astype(np.float64) / 255
    mx = f.max(axis=-1)
    mn = f.min(axis=-1)
    d = mx - mn
    r, g, b = f[..., 0], f[..., 1], f[..., 2]
    h = np.zeros_like(mx)
    nz = d > 1e-9
    rm = nz & (mx == r)
    gm = nz & (mx == g) & ~rm
    bm = nz & ~rm & ~gm
    h[rm] = ((g - b)[rm] / d[rm]) % 6
    h[gm] = (b - r)[gm] / d[gm] + 2
    h[bm] = (r - g)[bm] / d[bm] + 4
    s = np.where(mx > 1e-9, d / np.maximum(mx, 1e-9), 0)
    return h * 60, s, mx


def lab(rgb):
    from skimage.color import rgb2lab
    return rgb2lab(rgb)


def smooth(mask, sigma):
    """A smoother outline for a smooth object: the mask blurred and cut at
    one half, the photo's border counting as neither side."""
    from scipy import ndimage
    return ndimage.gaussian_filter(mask.astype(np.float64), sigma, mode="nearest") >= 0.5


# ---------------------------------------------------------------- truth recipes
#
# Each recipe takes the colour photo and the masks already made for the same
# photo, and returns the true region. Coordinates are pixels of the Debian
# photo; the rectangles and hint polygons were set by hand on a gridded view.

def truth_fruits_lemon(rgb, done):
    m = grabcut(rgb, (310, 240, 512, 480),
                fg=[[(380, 320), (480, 300), (490, 440), (380, 440)]],
                bg=[[(250, 300), (318, 300), (335, 470), (250, 470)], [(330, 120), (512, 120), (512, 250), (400, 250)]])
    return fill_holes(component_at(m, (440, 370)))


def truth_fruits_orange_slice(rgb, done):
    # The lemon is sure background: the slice's pale pith meets its rind.
    m = grabcut(rgb, (60, 35, 355, 478),
                fg=[[(150, 150), (250, 120), (300, 330), (200, 420), (130, 300)],
                    [(290, 446), (328, 442), (333, 462), (290, 468)]],
                bg=[done["lemon"], [(0, 100), (70, 100), (70, 270), (0, 270)],
                    [(0, 280), (90, 330), (110, 480), (0, 480)], [(340, 130), (480, 130), (480, 250), (340, 250)]])
    return fill_holes(component_at(m, (220, 250)))


def truth_fruits_lime(rgb, done):
    # Its shaded left side fades into a dark background: a hint polygon
    # covers the background there, and the lime is where green leads red.
    from scipy import ndimage
    m = grabcut(rgb, (315, 110, 512, 340),
                fg=[[(370, 180), (470, 160), (480, 240), (380, 260)],
                    [(368, 170), (380, 170), (380, 260), (372, 262), (362, 230), (362, 195)]],
                bg=[done["lemon"], [(300, 0), (512, 0), (512, 110), (300, 110)],
                    [(300, 110), (375, 110), (352, 140), (340, 170), (337, 200), (338, 250), (350, 285), (365, 312),
                     (300, 340)]])
    green = ndimage.gaussian_filter(rgb[..., 1].astype(np.float64) - rgb[..., 0], 1.5) > 4
    return smooth(fill_holes(component_at(m & green, (430, 210))), 1.5)


def truth_apple_apple(rgb, done):
    # The stem and the pencil behind the apple are sure background.
    m = grabcut(rgb, (35, 50, 470, 500),
                fg=[[(100, 150), (400, 150), (400, 420), (100, 420)]],
                bg=[[(190, 0), (235, 0), (235, 62), (190, 62)],
                    [(0, 442), (92, 442), (112, 470), (112, 476), (0, 476)]])
    return fill_holes(component_at(m, (250, 250)))


def truth_coffee_crema(rgb, done):
    m = grabcut(rgb, (195, 85, 380, 200), fg=[[(240, 120), (340, 115), (345, 170), (240, 170)]])
    return fill_holes(component_at(m, (290, 140)))


def truth_coffee_cup(rgb, done):
    # The white inside and rim of the cup; its red outside meets the red
    # saucer with no edge that a truth could be drawn on to two pixels.
    m = grabcut(rgb, (165, 12, 415, 215),
                fg=[[(200, 60), (300, 28), (380, 55), (385, 70), (300, 45), (210, 80)]],
                bg=[done["crema"], [(175, 175), (200, 215), (380, 215), (395, 175), (395, 215), (175, 215)]])
    return fill_holes(component_at(m, (300, 40))) & ~done["crema"]


def truth_building_sky(rgb, done):
    r, g, b = (rgb[..., i].astype(np.int32) for i in range(3))
    sky = (b > r + 12) & (b > 130)
    # The water tower's dome and platform are as pale as the haze around them.
    sky &= ~polygon(sky.shape, [(70, 350), (96, 345), (97, 335), (101, 329), (106, 328), (111, 331), (114, 337),
                                (115, 344), (137, 348), (136, 353), (100, 360), (72, 356)])
    return fill_holes(component_at(sky, (100, 150)), 30)


def truth_astronaut_suit(rgb, done):
    # Orange fabric by hue; the flag's red stripes have a hue below zero.
    # Opening cuts the orange fringes along the flag's stripes, closing takes
    # in the deep creases.
    h, s, v = hsv(rgb)
    suit = (h > 4) & (h < 35) & (s > 0.45) & (v > 0.12)
    suit[:170] = False
    suit = largest_components(opening(suit, 1.5), 1)
    return fill_holes(closing(suit, 3), 300)


def truth_astronaut_flag_stripe(rgb, done):
    h, s, v = hsv(rgb)
    red = ((h > 330) | (h < 12)) & (s > 0.5)
    return fill_holes(component_at(red, (30, 150)), 30)


def truth_astronaut_face(rgb, done):
    m = grabcut(rgb, (155, 55, 295, 215),
                fg=[[(195, 95), (250, 95), (255, 150), (225, 180), (195, 150)]],
                bg=[[(150, 40), (300, 40), (300, 80), (260, 80), (222, 60), (180, 80), (150, 80)]])
    return fill_holes(component_at(m, (222, 130)))


def truth_motorcycle_tank(rgb, done):
    # Red by hue; the cut polygon follows the seam between the tank and the
    # red side cover below the seat.
    h, s, v = hsv(rgb)
    red = ((h > 340) | (h < 12)) & (s > 0.45) & (v > 0.15)
    red &= ~polygon(red.shape, [(321, 219), (353, 251), (353, 300), (200, 300), (200, 219)])
    return fill_holes(closing(component_at(red, (380, 190)), 2.5))


def truth_ihc_gland(rgb, done):
    # The brown stain (DAB channel of the colour deconvolution), smoothed:
    # the gland's faint outer membrane belongs to it.
    from scipy import ndimage
    from skimage.color import rgb2hed
    dab = ndimage.gaussian_filter(rgb2hed(rgb)[..., 2], 2)
    return smooth(fill_holes(component_at(dab > 0.03, (320, 420))), 2)


def coin(rgb, box, seed):
    from skimage.filters import threshold_otsu
    g = rgb[..., 0]
    x0, y0, x1, y1 = box
    m = np.zeros(g.shape, bool)
    m[y0:y1, x0:x1] = g[y0:y1, x0:x1] > threshold_otsu(g[y0:y1, x0:x1])
    return smooth(fill_holes(component_at(m, seed)), 1.0)


def truth_coins_coin_large(rgb, done):
    return coin(rgb, (295, 5, 375, 85), (335, 43))


def truth_coins_coin_helmet(rgb, done):
    return coin(rgb, (5, 225, 85, 300), (45, 262))


def truth_chelsea_cat(rgb, done):
    m = grabcut(rgb, (0, 0, 451, 300),
                fg=[[(50, 30), (330, 25), (352, 100), (348, 220), (310, 300), (20, 300), (18, 160), (42, 100)],
                    [(350, 5), (385, 5), (362, 50)]],
                bg=[[(0, 0), (30, 0), (22, 55), (8, 100), (0, 105)],
                    [(380, 75), (451, 60), (451, 300), (392, 300), (375, 200)],
                    [(408, 0), (451, 0), (451, 60), (388, 68)]])
    return fill_holes(component_at(m, (200, 200)))


def truth_butterfly_butterfly(rgb, done):
    # The rectangle leaves out the antennae.
    m = grabcut(rgb, (3, 70, 490, 320), fg=[[(40, 200), (220, 120), (440, 170), (300, 270), (180, 260)]])
    return fill_holes(component_at(m, (230, 200)))


# photo, object, recipe, how the truth was made, what makes it hard
OBJECTS = [
    ("fruits", "lemon", truth_fruits_lemon,
     "colour GrabCut in a rectangle with hint polygons, holes filled",
     "touches two borders; pale rind beside pale pith"),
    ("fruits", "orange-slice", truth_fruits_orange_slice,
     "colour GrabCut with the lemon as sure background and a hint on the pith, holes filled",
     "textured interior with a white core; weak edge to the lemon"),
    ("fruits", "lime", truth_fruits_lime,
     "colour GrabCut with the lemon and the shadow beside it as sure background, cut to where green leads red, "
     "holes filled, outline smoothed", "touches the right border; shaded side on a dark background"),
    ("apple", "apple", truth_apple_apple,
     "colour GrabCut, stem and pencil as sure background, holes filled", "highlights; dark shadowed base"),
    ("coffee", "crema", truth_coffee_crema,
     "colour GrabCut in a rectangle, holes filled", "darker ring where the crema meets the cup"),
    ("coffee", "cup", truth_coffee_cup,
     "colour GrabCut of the cup's white inside and rim, the crema cut out", "a ring with a hole; shading inside"),
    ("building", "sky", truth_building_sky,
     "blue over red threshold, a polygon over the water tower, the component of the open sky, specks filled",
     "touches the border; tree branches and a hazy horizon"),
    ("astronaut", "suit", truth_astronaut_suit,
     "hue and saturation threshold, opening 1.5, largest component, closing 3, small holes filled",
     "creases, a patch, straps; touches the bottom border"),
    ("astronaut", "flag-stripe", truth_astronaut_flag_stripe,
     "red hue threshold, the component of one stripe", "thin; weak edge to the blue canton"),
    ("astronaut", "face", truth_astronaut_face,
     "colour GrabCut with hints on the face and the hair, holes filled", "skin; soft edge to the hair"),
    ("motorcycle", "tank", truth_motorcycle_tank,
     "red hue threshold, a polygon along the seam to the side cover, closing 2.5, holes filled",
     "joins the red side cover; reflections and a logo"),
    ("ihc", "gland", truth_ihc_gland,
     "stain channel of a colour deconvolution, blurred, threshold, holes filled, outline smoothed",
     "textured interior; weak edges; touches the bottom border"),
    ("coins", "coin-large", truth_coins_coin_large,
     "Otsu threshold of the grey photo in a box, holes filled, outline smoothed", "grey photo; relief inside"),
    ("coins", "coin-helmet", truth_coins_coin_helmet,
     "Otsu threshold of the grey photo in a box, holes filled, outline smoothed", "grey photo; darker corner"),
    ("chelsea", "cat", truth_chelsea_cat,
     "colour GrabCut with hint polygons on the cat and the background, holes filled",
     "fur against a blurred background; touches three borders"),
    ("butterfly", "butterfly", truth_butterfly_butterfly,
     "colour GrabCut in a rectangle below the antennae with a hint on the wings, holes filled",
     "white spots inside; scalloped edges"),
]


# ---------------------------------------------------------------- strokes

def rng_for(*names):
    """A generator for one object or photo: the same names, the same draws."""
    return np.random.default_rng([SEED, zlib.crc32("/".join(names).encode())])


def inside_distance(mask):
    """Distance of each inside pixel to the nearest outside pixel; the photo's
    border is not a boundary."""
    from scipy import ndimage
    return ndimage.distance_transform_edt(np.pad(mask, 1, mode="edge"))[1:-1, 1:-1]


def edge_distance(shape):
    h, w = shape
    y, x = np.mgrid[:h, :w]
    return np.minimum(np.minimum(x, w - 1 - x), np.minimum(y, h - 1 - y))


def stroke_pixels(points, width, shape):
    """The pixels within width / 2 of the polyline: the disc of the stroke's
    width swept along it. The C++ reader rasterises by the same rule."""
    h, w = shape
    pts = np.asarray(points, np.float64)
    r = width / 2
    x0 = max(0, int(math.floor(pts[:, 0].min() - r)))
    x1 = min(w - 1, int(math.ceil(pts[:, 0].max() + r)))
    y0 = max(0, int(math.floor(pts[:, 1].min() - r)))
    y1 = min(h - 1, int(math.ceil(pts[:, 1].max() + r)))
    out = np.zeros(shape, bool)
    if x1 < x0 or y1 < y0:
        return out
    y, x = np.mgrid[y0:y1 + 1, x0:x1 + 1].astype(np.float64)
    best = np.full(x.shape, np.inf)
    segments = list(zip(pts[:-1], pts[1:])) if len(pts) > 1 else [(pts[0], pts[0])]
    for a, b in segments:
        d = b - a
        dd = d @ d
        t = np.zeros_like(x) if dd == 0 else np.clip(((x - a[0]) * d[0] + (y - a[1]) * d[1]) / dd, 0, 1)
        best = np.minimum(best, (x - a[0] - t * d[0]) ** 2 + (y - a[1] - t * d[1]) ** 2)
    out[y0:y1 + 1, x0:x1 + 1] = best <= r * r + 1e-9
    return out


def counted(stroke, shape):
    """The stroke with the number of pixels it covers, for readers to check
    their own rasterisation against."""
    stroke["pixelCount"] = int(stroke_pixels(stroke["points"], stroke["width"], shape).sum())
    return stroke


def walk(allowed, rng, start, length, step=1.5, wiggle=0.1):
    """A hand's smooth path from start through allowed pixels: the heading
    drifts a little at each step and turns away from the region's edge when
    the path would leave it."""
    h, w = allowed.shape

    def ok(p):
        x, y = int(round(p[0])), int(round(p[1]))
        return 0 <= x < w and 0 <= y < h and allowed[y, x]

    pos = np.asarray(start, np.float64)
    theta = rng.uniform(0, 2 * math.pi)
    path = [pos]
    travelled = 0.0
    turns = [0.0] + [s * k * 0.15 for k in range(1, 12) for s in (1, -1)]
    while travelled < length:
        theta += rng.normal(0, wiggle)
        for turn in turns:
            nxt = pos + step * np.array([math.cos(theta + turn), math.sin(theta + turn)])
            if ok(nxt):
                theta += turn
                break
        else:
            break
        pos = nxt
        path.append(pos)
        travelled += step
    return path


def polyline(path, allowed, spacing=6.0):
    """Integer points about `spacing` apart along the path, with extra points
    where a straight segment would cut a corner outside the allowed region."""
    h, w = allowed.shape
    pts = [tuple(int(round(c)) for c in path[0])]
    last = 0
    every = max(1, int(round(spacing / 1.5)))

    def segment_ok(a, b):
        n = int(max(abs(b[0] - a[0]), abs(b[1] - a[1]))) * 2 + 1
        for t in np.linspace(0, 1, n + 1):
            x, y = int(round(a[0] + t * (b[0] - a[0]))), int(round(a[1] + t * (b[1] - a[1])))
            if not (0 <= x < w and 0 <= y < h and allowed[y, x]):
                return False
        return True

    i = every
    while i < len(path) - 1 + every:
        j = min(i, len(path) - 1)
        cand = tuple(int(round(c)) for c in path[j])
        k = j
        while k > last + 1 and not segment_ok(pts[-1], cand):
            k -= 1
            cand = tuple(int(round(c)) for c in path[k])
        if cand != pts[-1]:
            pts.append(cand)
        last = k
        i = k + every
    return [list(p) for p in pts]


def spread_starts(candidates, rng, count, taken=()):
    """Start points spread over the candidates: each the farthest from those
    already taken among a few random draws."""
    ys, xs = np.nonzero(candidates)
    if len(xs) == 0:
        return []
    starts = []
    chosen = [np.asarray(p, np.float64) for p in taken]
    for _ in range(count):
        idx = rng.integers(0, len(xs), size=min(40, len(xs)))
        pts = np.stack([xs[idx], ys[idx]], axis=1).astype(np.float64)
        if chosen:
            d = np.min(np.linalg.norm(pts[:, None, :] - np.asarray(chosen)[None, :, :], axis=2), axis=1)
            p = pts[int(np.argmax(d))]
        else:
            p = pts[0]
        starts.append(p)
        chosen.append(p)
    return starts


def stroke_width(shape):
    """A marker of about a hundredth of the photo's long side, odd, at least 3."""
    w = max(3, int(round(max(shape) / 100)))
    return w if w % 2 else w + 1


def object_measures(mask):
    ys, xs = np.nonzero(mask)
    diameter = float(max(xs.max() - xs.min() + 1, ys.max() - ys.min() + 1))
    return diameter


def make_strokes(mask, names):
    """Keep, remove and short keep strokes for one object."""
    rng = rng_for(*names)
    shape = mask.shape
    width = stroke_width(shape)
    r = width / 2
    diameter = object_measures(mask)
    margin = float(max(3, round(0.03 * diameter)))
    band = float(max(10, round(0.12 * diameter)))
    from scipy import ndimage
    inside = inside_distance(mask)
    outside = ndimage.distance_transform_edt(~mask)
    on_photo = edge_distance(shape) >= r
    keep_ok = (inside >= r + margin + 1) & on_photo
    remove_ok = (outside >= r + margin + 1) & (outside <= r + margin + 1 + band) & on_photo

    def lay(allowed, count, lo, hi):
        strokes = []
        taken = []
        for start in spread_starts(allowed, rng, count):
            length = max(10.0, rng.uniform(lo, hi) * diameter)
            path = walk(allowed, rng, start, length)
            # A hand that meets the edge at once starts again elsewhere.
            for _ in range(10):
                if (len(path) - 1) * 1.5 >= length / 2:
                    break
                path = walk(allowed, rng, spread_starts(allowed, rng, 1, taken)[0], length)
            taken.append(path[0])
            strokes.append(counted({"width": width, "points": polyline(path, allowed)}, shape))
        return strokes

    keep = lay(keep_ok, int(rng.integers(3, 6)), 0.2, 0.4)
    remove = lay(remove_ok, int(rng.integers(3, 6)), 0.25, 0.45)
    deep = keep_ok & (inside >= 0.5 * inside[keep_ok].max()) if keep_ok.any() else keep_ok
    start = spread_starts(deep, rng, 1)[0]
    short_len = max(3.0, rng.uniform(0.05, 0.10) * diameter)
    short = counted({"width": width, "points": polyline(walk(keep_ok, rng, start, short_len, wiggle=0.05), keep_ok)},
                    shape)
    check_strokes(mask, keep + [short], remove, margin)
    return {"margin": margin, "keep": keep, "remove": remove, "shortKeep": short}


def check_strokes(mask, keep, remove, margin):
    from scipy import ndimage
    inside = inside_distance(mask)
    outside = ndimage.distance_transform_edt(~mask)
    for s in keep:
        px = stroke_pixels(s["points"], s["width"], mask.shape)
        assert px.any() and inside[px].min() >= margin, "keep stroke near the boundary"
    for s in remove:
        px = stroke_pixels(s["points"], s["width"], mask.shape)
        assert px.any() and outside[px].min() >= margin, "remove stroke near the boundary"


# ---------------------------------------------------------------- scribbles

def superpixels(rgb, lo=20, hi=30):
    """SLIC superpixels of the colour photo, between lo and hi of them: SLIC
    makes fewer than it is asked for, so the request grows until it does."""
    from skimage.segmentation import slic
    for n in range(lo, 4 * hi):
        labels = slic(rgb, n_segments=n, compactness=10, start_label=0)
        if lo <= labels.max() + 1 <= hi:
            return labels, n
    raise RuntimeError("no superpixel count between %d and %d" % (lo, hi))


def make_scribbles(rgb, names):
    """One short scribble per superpixel, away from its border, in the
    superpixel's true median colour."""
    rng = rng_for(*names, "scribbles")
    labels, _ = superpixels(rgb)
    assert len(np.unique(labels)) == labels.max() + 1
    width = 3
    r = width / 2
    scribbles = []
    for label in range(labels.max() + 1):
        region = labels == label
        if not region.any():
            continue
        # Here the photo's border is a boundary: a scribble stays on the photo.
        from scipy import ndimage
        dist = ndimage.distance_transform_edt(np.pad(region, 1))[1:-1, 1:-1]
        allowed = dist >= r + 2
        if not allowed.any():
            continue
        deep = allowed & (dist >= 0.6 * dist.max())
        start = spread_starts(deep, rng, 1)[0]
        length = float(np.clip(0.3 * math.sqrt(region.sum()), 6, 16))
        pts = polyline(walk(allowed, rng, start, length, wiggle=0.15), allowed, spacing=4)
        colour = [int(np.median(rgb[..., c][region])) for c in range(3)]
        scribbles.append(counted({"width": width, "colour": colour, "points": pts}, rgb.shape[:2]))
    return scribbles, labels


# ---------------------------------------------------------------- the set

def median_colour(rgb, mask):
    return [int(np.median(rgb[..., c][mask])) for c in range(3)]


def touches_border(mask):
    return bool(mask[0].any() or mask[-1].any() or mask[:, 0].any() or mask[:, -1].any())


def object_entry(name, mask_file, mask, rgb, truth, hard, names):
    entry = {
        "name": name,
        "mask": mask_file,
        "median": median_colour(rgb, mask),
        "area": int(mask.sum()),
        "diameter": object_measures(mask),
        "touchesBorder": touches_border(mask),
        "truth": truth,
        "hard": hard,
    }
    entry.update(make_strokes(mask, names))
    return entry


def source_entry(name):
    package, path = SOURCES[name]
    w, h = Image.open(path).size
    return {"package": package, "path": path, "sha256": sha256(path), "width": w, "height": h}


def write_photo(rgb, grey_only, directory, stem):
    """Writes the colour and grey files; a grey photo is its own colour file."""
    grey = luma(rgb)
    save_png(grey, directory / (stem + "-grey.png"))
    if grey_only:
        return stem + "-grey.png", stem + "-grey.png"
    save_png(rgb, directory / (stem + "-colour.png"))
    return stem + "-colour.png", stem + "-grey.png"


def is_grey(name):
    return Image.open(SOURCES[name][1]).mode in ("L", "I;16", "1")


def truth_masks(name, rgb, new_truth):
    """The photo's true regions: the committed masks where they exist (they
    were checked by eye), else the recipe's."""
    done = {}
    for photo, obj, recipe, _, _ in OBJECTS:
        if photo != name:
            continue
        path = BENCH_DIR / "masks" / ("%s-%s.png" % (photo, obj))
        made = recipe(rgb, done)
        if path.exists() and not new_truth:
            kept = np.asarray(Image.open(path)) > 127
            if not np.array_equal(kept, made):
                print("note: %s-%s: the recipe now differs from the committed mask in %d pixels; "
                      "the committed mask stays" % (photo, obj, int((kept != made).sum())), file=sys.stderr)
            done[obj] = kept
        else:
            save_png((made * 255).astype(np.uint8), path)
            done[obj] = made
    return done


def bench_set(new_truth):
    (BENCH_DIR / "masks").mkdir(parents=True, exist_ok=True)
    (BENCH_DIR / "photos").mkdir(parents=True, exist_ok=True)
    photos = []
    names = list(dict.fromkeys([o[0] for o in OBJECTS] + SPREAD_PHOTOS))
    for name in names:
        rgb = load_colour(SOURCES[name][1])
        h, w = rgb.shape[:2]
        colour, grey = write_photo(rgb, is_grey(name), BENCH_DIR / "photos", name)
        entry = {"name": name, "source": source_entry(name), "reduction": {"method": "none"},
                 "width": w, "height": h, "colour": "photos/" + colour, "grey": "photos/" + grey,
                 "greyOnly": is_grey(name), "objects": []}
        masks = truth_masks(name, rgb, new_truth)
        for photo, obj, _, truth, hard in OBJECTS:
            if photo == name:
                entry["objects"].append(object_entry(obj, "masks/%s-%s.png" % (photo, obj), masks[obj], rgb,
                                                     truth, hard, ["bench", photo, obj]))
        photos.append(entry)
        if name not in SPREAD_PHOTOS:
            continue
        sw, sh = size_for_pixels(w, h, SPREAD_PIXELS)
        if (sw, sh) == (w, h):
            target, small = entry, rgb
        else:
            small = reduce_colour(rgb, sw, sh)
            colour, grey = write_photo(small, False, BENCH_DIR / "photos", name + "-small")
            target = {"name": name + "-small", "source": source_entry(name),
                      "reduction": {"method": "area", "width": sw, "height": sh},
                      "width": sw, "height": sh, "colour": "photos/" + colour, "grey": "photos/" + grey,
                      "greyOnly": False, "objects": []}
            photos.append(target)
        target["scribbles"], labels = make_scribbles(small, ["bench", target["name"]])
        target["superpixels"] = int(labels.max() + 1)
    return photos


def test_set(bench_photos):
    TEST_DIR.mkdir(parents=True, exist_ok=True)
    photos = []
    by_name = {p["name"]: p for p in bench_photos}
    for name, objects in TEST_PHOTOS.items():
        rgb = load_colour(SOURCES[name][1])
        h, w = rgb.shape[:2]
        sw, sh = size_for_long_side(w, h, TEST_LONG_SIDE)
        small = reduce_colour(rgb, sw, sh)
        colour, grey = write_photo(small, is_grey(name), TEST_DIR, name)
        entry = {"name": name, "source": source_entry(name), "reduction": {"method": "area", "width": sw, "height": sh},
                 "width": sw, "height": sh, "colour": colour, "grey": grey, "greyOnly": is_grey(name), "objects": []}
        bench_objects = {o["name"]: o for o in by_name[name]["objects"]}
        for obj in objects:
            full = np.asarray(Image.open(BENCH_DIR / bench_objects[obj]["mask"])) > 127
            mask = reduce_mask(full, sw, sh)
            mask_file = "%s-%s.png" % (name, obj)
            save_png((mask * 255).astype(np.uint8), TEST_DIR / mask_file)
            truth = "reduced by area averaging from the full-size truth, cut at one half; there: " + \
                bench_objects[obj]["truth"]
            entry["objects"].append(object_entry(obj, mask_file, mask, small, truth, bench_objects[obj]["hard"],
                                                 ["test", name, obj]))
        if not is_grey(name):
            entry["scribbles"], labels = make_scribbles(small, ["test", name])
            entry["superpixels"] = int(labels.max() + 1)
        photos.append(entry)
    return photos


def document(photos, what):
    return {
        "format": 1,
        "what": what,
        "generator": "scripts/make-eval-set.py",
        "seed": SEED,
        "grey": "Rec. 601 luma of the colour photo: (299 R + 587 G + 114 B + 500) / 1000, 8-bit",
        "reduction": "area averaging in sRGB, rounded; a reduced mask keeps the pixels at least half inside",
        "strokes": "polylines through integer pixel centres; a stroke covers the pixels within width / 2 "
                   "of its polyline (the disc of its width swept along it), on the photo",
        "median": "per-channel median, sRGB, of the colour photo over the region",
        "greyOnly": "the Debian photo is grey: its colour file is its grey file, and its truth has no colour",
        "photos": photos,
    }


def write_json(doc, path):
    """Indented, with lists of numbers and polylines kept on one line."""
    import re
    text = json.dumps(doc, indent=1, separators=(",", ": "))
    numbers = r"\[\s+([-\d.,\s]+?)\s+\]"
    pairs = r"\[\s+(\[[-\d.,]+\](?:,\s+\[[-\d.,]+\])*)\s+\]"
    text = re.sub(numbers, lambda m: "[" + ",".join(x.strip() for x in m.group(1).split(",")) + "]", text)
    text = re.sub(pairs, lambda m: "[" + re.sub(r",\s+", ",", m.group(1)) + "]", text)
    path.write_text(text + "\n")


# ---------------------------------------------------------------- photos only

def photos_only(out):
    """The bench set's photos from the Debian files, as the JSON describes
    them, into `out` beside a copy of the JSON and the masks (the truth and
    the inputs are not remade). The JSON is written last, so that a build
    that sees it sees a whole set."""
    import shutil
    doc = json.loads((BENCH_DIR / "evalset.json").read_text())
    (out / "photos").mkdir(parents=True, exist_ok=True)
    (out / "masks").mkdir(parents=True, exist_ok=True)
    missing = []
    for p in doc["photos"]:
        src = p["source"]
        if not Path(src["path"]).exists():
            missing.append("%s (%s)" % (src["path"], src["package"]))
            continue
        if sha256(src["path"]) != src["sha256"]:
            print("warning: %s differs from the file the truth was made on" % src["path"], file=sys.stderr)
        rgb = load_colour(src["path"])
        red = p["reduction"]
        if red["method"] == "area":
            rgb = reduce_colour(rgb, red["width"], red["height"])
        save_png(luma(rgb), out / p["grey"])
        if p["colour"] != p["grey"]:
            save_png(rgb, out / p["colour"])
        for o in p["objects"]:
            if (BENCH_DIR / o["mask"]).resolve() != (out / o["mask"]).resolve():
                shutil.copyfile(BENCH_DIR / o["mask"], out / o["mask"])
    if missing:
        print("missing photos (install the packages named): " + ", ".join(sorted(set(missing))), file=sys.stderr)
        return 1
    if (BENCH_DIR / "evalset.json").resolve() != (out / "evalset.json").resolve():
        shutil.copyfile(BENCH_DIR / "evalset.json", out / "evalset.json")
    return 0


# ---------------------------------------------------------------- overlays

def overlay_object(base, photo, obj, out):
    from scipy import ndimage
    rgb = load_colour(base / photo["colour"])
    mask = np.asarray(Image.open(base / obj["mask"])) > 127
    img = rgb.copy()
    edge = mask & ~ndimage.binary_erosion(mask, np.ones((3, 3)), border_value=1)
    img[edge] = (0, 255, 255)
    for kind, colour in (("remove", (255, 0, 0)), ("keep", (0, 255, 0))):
        for s in obj[kind]:
            img[stroke_pixels(s["points"], s["width"], mask.shape)] = colour
    img[stroke_pixels(obj["shortKeep"]["points"], obj["shortKeep"]["width"], mask.shape)] = (255, 255, 0)
    scale = 2 if max(mask.shape) < 400 else 1
    im = Image.fromarray(img)
    im.resize((im.width * scale, im.height * scale), Image.NEAREST).save(out)


def overlay_spread(base, photo, out):
    grey = np.asarray(Image.open(base / photo["grey"]).convert("L"))
    img = np.stack([grey] * 3, axis=-1).copy()
    for s in photo["scribbles"]:
        px = stroke_pixels(s["points"], s["width"], grey.shape)
        from scipy import ndimage
        ring = ndimage.binary_dilation(px, np.ones((3, 3))) & ~px
        img[ring] = (0, 0, 0)
        img[px] = s["colour"]
    scale = 2 if max(grey.shape) < 400 else 1
    im = Image.fromarray(img)
    im.resize((im.width * scale, im.height * scale), Image.NEAREST).save(out)


def overlays(doc, base, out, prefix):
    out.mkdir(parents=True, exist_ok=True)
    for p in doc["photos"]:
        for o in p["objects"]:
            overlay_object(base, p, o, out / ("%s%s-%s.png" % (prefix, p["name"], o["name"])))
        if p.get("scribbles"):
            overlay_spread(base, p, out / ("%s%s-spread.png" % (prefix, p["name"])))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--photos", metavar="DIR", nargs="?", const=str(BENCH_DIR),
                        help="only the bench set's photos, from the Debian files, into DIR (bench/evalset by default) "
                             "beside a copy of the JSON and the masks")
    parser.add_argument("--overlays", metavar="DIR", help="also write overlays to look at into DIR")
    parser.add_argument("--new-truth", action="store_true", help="replace the committed masks by the recipes'")
    args = parser.parse_args()
    if args.photos:
        return photos_only(Path(args.photos))
    bench = bench_set(args.new_truth)
    bench_doc = document(bench, "Brivela's evaluation set: true regions, inputs and scribbles on real photos")
    write_json(bench_doc, BENCH_DIR / "evalset.json")
    test_doc = document(test_set(bench), "the reduced subset of Brivela's evaluation set kept in the test tree")
    write_json(test_doc, TEST_DIR / "evalset.json")
    if args.overlays:
        overlays(bench_doc, BENCH_DIR, Path(args.overlays), "")
        overlays(test_doc, TEST_DIR, Path(args.overlays), "test-")
    return 0


if __name__ == "__main__":
    sys.exit(main())

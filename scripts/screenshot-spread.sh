#!/usr/bin/env bash
# Takes the README's before/after pictures of Spread colours with the real
# program: astronaut.png from scikit-image turned grey, one short colour mark
# per area in that area's median colour in the true photo, then S. Needs
# Xvfb, xdotool, xwd and Debian's python3 with scikit-image and Pillow.
# Usage: xvfb-run -a -s "-screen 0 1280x800x24" scripts/screenshot-spread.sh build/brivela
set -euo pipefail
cd "$(dirname "$0")/.."
program=$(realpath "${1:-build/brivela}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
mkdir -p "$HOME"

/usr/bin/python3 - "$work" <<'PY'
import sys
import numpy as np
from skimage import color, data, io
work = sys.argv[1]
a = data.astronaut()
io.imsave(work + '/astronaut-grey.png', (color.rgb2gray(a) * 255).round().astype(np.uint8))
# Each line: from and to in photo pixels, and the true median colour along it.
lines = [((60, 380), (100, 440)), ((310, 290), (335, 330)), ((200, 118), (245, 150)), ((185, 50), (255, 38)),
         ((330, 40), (360, 150)), ((460, 170), (490, 240)), ((20, 270), (35, 300)), ((10, 30), (40, 90)),
         ((215, 200), (245, 215)), ((396, 140), (398, 200)), ((380, 430), (420, 460)), ((160, 370), (185, 382))]
with open(work + '/scribbles.txt', 'w') as out:
    for (x0, y0), (x1, y1) in lines:
        pixels = [a[int(round(y0 + (y1 - y0) * t)):][:5, int(round(x0 + (x1 - x0) * t)):][:, :5].reshape(-1, 3)
                  for t in np.linspace(0, 1, 50)]
        m = np.median(np.concatenate(pixels), axis=0).astype(int)
        out.write('%d %d %d %d #%02x%02x%02x\n' % (x0, y0, x1, y1, *m))
PY

shot() {
    xwd -id "$window" -silent > "$work/shot.xwd"
    /usr/bin/python3 - "$work/shot.xwd" "$1" <<'PY'
import struct, sys
from PIL import Image
d = open(sys.argv[1], 'rb').read()
h = struct.unpack('>25I', d[:100])
width, height, bpp, bpl = h[4], h[5], h[11], h[12]
off = h[0] + h[19] * 12
mode, raw = ('RGB', 'BGR') if bpp == 24 else ('RGBX', 'BGRX')
im = Image.frombuffer(mode, (width, height), d[off:off + bpl * height], 'raw', raw, bpl, 1).convert('RGB')
im.crop((0, 0, 760, 700)).save(sys.argv[2], optimize=True)
PY
}

"$program" "$work/astronaut-grey.png" &
pid=$!
sleep 3
window=$(xdotool search --sync --onlyvisible --name astronaut | head -1)
xdotool windowmove "$window" 0 0 windowsize "$window" 1100 760
sleep 1
# Six zoom steps: the photo at about 113 %, its corner at (169, 108).
for _ in 1 2 3 4 5 6; do xdotool mousemove 952 157 click 1; sleep 0.2; done
xdotool windowactivate --sync "$window" 2>/dev/null || true
xdotool key c
sleep 0.3
while read -r x0 y0 x1 y1 colour; do
    xdotool mousemove 995 79 click 1 # Color
    sleep 1.5
    xdotool key alt+h; sleep 0.2; xdotool key ctrl+a; xdotool type "$colour"; sleep 0.2; xdotool key Return
    sleep 1
    read -r X0 Y0 X1 Y1 < <(awk -v a="$x0" -v b="$y0" -v c="$x1" -v d="$y1" \
        'BEGIN { printf "%d %d %d %d\n", 169 + 1.131 * a, 108 + 1.131 * b, 169 + 1.131 * c, 108 + 1.131 * d }')
    xdotool mousemove "$X0" "$Y0" mousedown 1 mousemove $(((X0 + X1) / 2)) $(((Y0 + Y1) / 2)) \
        mousemove "$X1" "$Y1" mouseup 1
    sleep 0.8
done < "$work/scribbles.txt"
xdotool mousemove 1000 600
sleep 2
shot docs/screenshot-spread.png
xdotool key s
sleep 3
shot docs/screenshot-spread-done.png
kill "$pid"

#!/bin/sh
# Renders app/icons/tcpserver.svg into app/icons/tcpserver.ico (twelve images,
# the sizes Windows picks from for its views and display scales) and into the
# PNG sizes of the freedesktop icon theme (app/icons/hicolor/, also the
# window's icon). Needs rsvg-convert (Debian: librsvg2-bin) and python3. Run it
# after changing the artwork and commit what it writes.
set -eu
cd "$(dirname "$0")/../app/icons"
sizes="16 20 24 30 32 36 40 48 60 64 96 256"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for size in $sizes; do
    rsvg-convert --width "$size" --height "$size" tcpserver.svg -o "$tmp/$size.png"
done
python3 - "$tmp" $sizes <<'PYTHON'
import struct, sys
folder, sizes = sys.argv[1], [int(s) for s in sys.argv[2:]]
images = [open(f"{folder}/{s}.png", "rb").read() for s in sizes]
# ICONDIR, then one ICONDIRENTRY per image, then the images (PNG-compressed).
out = struct.pack("<HHH", 0, 1, len(images))
offset = 6 + 16 * len(images)
for size, data in zip(sizes, images):
    side = 0 if size >= 256 else size
    out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
open("tcpserver.ico", "wb").write(out + b"".join(images))
PYTHON
echo "app/icons/tcpserver.ico: $(echo $sizes | wc -w) images"
for size in 16 24 32 48 64 128 256; do
    mkdir -p "hicolor/${size}x${size}/apps"
    rsvg-convert --width "$size" --height "$size" tcpserver.svg -o "hicolor/${size}x${size}/apps/tcpserver.png"
done

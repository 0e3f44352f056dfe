#!/usr/bin/python3
"""Writes small seed files for the format harnesses into fuzz/corpus/fuzz_{png,jpeg,tiff,webp,gif}."""
import io
import os
from PIL import Image

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def picture(mode, size=(7, 5)):
    im = Image.new("RGBA", size)
    im.putdata([((x * 40) % 256, (y * 60) % 256, (x * y * 30) % 256, 255 if (x + y) % 3 else 0)
                for y in range(size[1]) for x in range(size[0])])
    if mode == "P":
        return im.convert("RGB").quantize(colors=5)
    if mode == "I;16":
        return im.convert("L").convert("I").point(lambda v: v * 257).convert("I;16")
    return im.convert(mode)


def save(harness, name, im, **options):
    folder = os.path.join(root, harness)
    os.makedirs(folder, exist_ok=True)
    im.save(os.path.join(folder, name), **options)


for mode in ("1", "L", "LA", "P", "RGB", "RGBA", "I;16"):
    save("fuzz_png", f"{mode.replace(';', '')}.png", picture(mode))
save("fuzz_png", "interlaced.png", picture("RGB"), interlace=1)
for mode in ("L", "RGB", "CMYK"):
    save("fuzz_jpeg", f"{mode}.jpg", picture(mode), quality=80)
save("fuzz_jpeg", "progressive.jpg", picture("RGB"), progressive=True)
exif = Image.Exif()
exif[0x0112] = 6
save("fuzz_jpeg", "rotated.jpg", picture("RGB"), exif=exif.tobytes())
for mode in ("1", "L", "P", "RGB", "RGBA", "CMYK", "I;16"):
    save("fuzz_tiff", f"{mode.replace(';', '')}.tif", picture(mode), compression="tiff_deflate" if mode != "1" else "group4")
save("fuzz_tiff", "lzw.tif", picture("RGB"), compression="tiff_lzw")
save("fuzz_tiff", "packbits.tif", picture("P"), compression="packbits")
save("fuzz_webp", "lossy.webp", picture("RGB"), quality=50)
save("fuzz_webp", "lossless.webp", picture("RGBA"), lossless=True)
save("fuzz_webp", "alpha.webp", picture("RGBA"), quality=50)
save("fuzz_gif", "palette.gif", picture("P"))
save("fuzz_gif", "transparent.gif", picture("P"), transparency=2)
save("fuzz_gif", "interlaced.gif", picture("P", (9, 17)), interlace=True)

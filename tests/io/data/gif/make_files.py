# Writes the GIFs of this folder with PIL (Pillow 9.4), as Python scripts
# write them. Run once by hand; the tests read the files it made and never
# run it. Grey levels follow the closed forms below, which the tests compute
# on their own.
from PIL import Image

def save(name, width, height, grey):
    im = Image.new('L', (width, height))
    im.putdata([grey(x, y) for y in range(height) for x in range(width)])
    im.save(name)

# 250 greys and no black: PIL fills the colour map up to 256 entries with
# black (and interlaces the image).
save('grey250.gif', 50, 40, lambda x, y: 5 + (7 * x + 11 * y) % 250)
# 4 greys: a 4-entry colour map under 8-bit LZW codes.
save('grey4.gif', 30, 20, lambda x, y: 60 * ((x + y) % 4))

# Grey and colour pictures without black, written by PIL, ImageMagick and
# netpbm, whose colour maps end in entries the image does not use: black
# that fills the map up to a power of two, and before it, in ImageMagick's
# files, greys (or colours) of its own map that its dithering left unused.
# The ImageMagick and netpbm files come from the PGM and PPM written here
# (ImageMagick 6.9, netpbm 11).
import math
import os
import subprocess

# Sharp bright spots make the sums and the a trous components ring past the
# brightest grey the picture uses.
def smooth_grey(x, y):
    if y < 4 and 64 * y + x < 255:
        return 1 + 64 * y + x  # every grey 1..255 once
    if x % 16 in (7, 8, 9) and y % 16 in (7, 8, 9):
        return 240
    return 1 + int(180 * (0.5 + 0.5 * math.sin(x / 5.0) * math.cos(y / 7.0)))

def wavy_grey(x, y):
    if x % 16 in (7, 8) and y % 16 in (7, 8):
        return 200
    v = 128 + 60 * math.sin(x / 5.0) * math.cos(y / 7.0) + 20 * math.sin(x * y / 200.0)
    return max(1, min(255, int(v)))

# 100 colours, none black, in tiles over a smooth ramp of their indices.
COLOURS = [(40 + (37 * i) % 216, 30 + (91 * i) % 226, 20 + (53 * i) % 236) for i in range(100)]

def colour(x, y):
    return COLOURS[int(49.5 + 49.5 * math.sin(x / 6.0) * math.cos(y / 9.0))]

def write_pgm(name, grey):
    with open(name, 'wb') as f:
        f.write(b'P5\n64 64\n255\n' + bytes(grey(x, y) for y in range(64) for x in range(64)))

def write_ppm(name):
    with open(name, 'wb') as f:
        f.write(b'P6\n64 64\n255\n' + bytes(c for y in range(64) for x in range(64) for c in colour(x, y)))

# 255 greys and one black entry filling the map to 256.
save('pil_grey255.gif', 64, 64, smooth_grey)
rgb = Image.new('RGB', (64, 64))
rgb.putdata([colour(x, y) for y in range(64) for x in range(64)])
rgb.save('pil_colour.gif')  # 100 colours, the map filled to 128 with black
write_pgm('smooth.pgm', smooth_grey)
write_pgm('wavy.pgm', wavy_grey)
write_ppm('colour.ppm')
for command in ['convert smooth.pgm im_grey.gif',  # unused greys and white, then one black
                'convert wavy.pgm -colors 200 im_grey_colors200.gif',  # one unused grey, then black
                'convert colour.ppm im_colour.gif',
                'pamtogif smooth.pgm > pam_grey.gif',
                'ppmtogif colour.ppm > ppm_colour.gif']:
    subprocess.run(command, shell=True, check=True)
for name in ['smooth.pgm', 'wavy.pgm', 'colour.ppm']:
    os.remove(name)

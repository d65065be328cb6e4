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

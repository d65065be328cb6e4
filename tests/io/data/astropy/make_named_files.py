# Writes named_after_building.fits with astropy (astropy 5.2.1), as Python
# pipelines often name a compressed image: after it is built, by its name
# (`c.name = 'SCI'`) or by its header (`c.header['EXTNAME'] = 'ERR'`).
# astropy then writes EXTNAME twice, with one value, in each table. Run once
# by hand; the tests read the file it made and never run it. Pixel values
# follow the closed forms below, which the tests compute on their own.
import numpy as np
from astropy.io import fits
ny, nx = 40, 56
y, x = np.mgrid[0:ny, 0:nx]
sci = fits.CompImageHDU(((x * 13 + y * 29) % 30000).astype(np.int16), compression_type='RICE_1')
sci.name = 'SCI'
err = fits.CompImageHDU(((x * 7 + y * 11) % 1000).astype(np.int16), compression_type='GZIP_2')
err.header['EXTNAME'] = 'ERR'
fits.HDUList([fits.PrimaryHDU(), sci, err]).writeto('named_after_building.fits', overwrite=True)
with open('named_after_building.fits', 'rb') as f:
    assert f.read().count(b"EXTNAME = 'SCI     '") == 2

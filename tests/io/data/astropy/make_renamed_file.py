# Writes renamed_after_building.fits with astropy (astropy 5.2.1): a
# compressed image named after it is built (`c.name = 'SCI'`), which astropy
# writes as two EXTNAME cards, saved, then renamed in update mode
# (`hdul[1].name = 'NEW'`), which changes only the first of them. A second
# compressed image, ERR, follows it. Run once by hand; the tests read the
# file it made and never run it. Pixel values follow the closed forms below,
# which the tests compute on their own.
import numpy as np
from astropy.io import fits
ny, nx = 40, 56
y, x = np.mgrid[0:ny, 0:nx]
sci = fits.CompImageHDU(((x * 13 + y * 29) % 30000).astype(np.int16), compression_type='RICE_1')
sci.name = 'SCI'
err = fits.CompImageHDU(((x * 7 + y * 11) % 1000).astype(np.int16), compression_type='GZIP_2')
err.name = 'ERR'
fits.HDUList([fits.PrimaryHDU(), sci, err]).writeto('renamed_after_building.fits', overwrite=True)
with fits.open('renamed_after_building.fits', mode='update') as hdul:
    hdul[1].name = 'NEW'
with open('renamed_after_building.fits', 'rb') as f:
    data = f.read()
    assert data.count(b"EXTNAME = 'NEW     '") == 1 and data.count(b"EXTNAME = 'SCI     '") == 1
    assert data.index(b"EXTNAME = 'NEW     '") < data.index(b"EXTNAME = 'SCI     '")

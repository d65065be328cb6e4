# Writes copied_after_reading.fits and renamed_twice.fits with astropy
# (astropy 5.2.1), as Python pipelines make them. The first holds a
# compressed image read from a file, copied (`.copy()`) and written again:
# astropy then writes ZPCOUNT as the size of the heap it read. The second
# holds a compressed image named twice before it is written (`c.name =
# 'TMP'; c.name = 'SCI'`): astropy writes EXTNAME = 'SCI', then EXTNAME =
# 'TMP'. Run once by hand; the tests read the files it made and never run
# it. Pixel values follow the closed forms below, which the tests compute on
# their own.
import os
import numpy as np
from astropy.io import fits
ny, nx = 40, 56
y, x = np.mgrid[0:ny, 0:nx]
read = fits.CompImageHDU(((x * 13 + y * 29) % 30000).astype(np.int16), compression_type='RICE_1', name='SCI')
fits.HDUList([fits.PrimaryHDU(), read]).writeto('read_before_copying.fits', overwrite=True)
with fits.open('read_before_copying.fits') as hdul:
    hdul[1].data
    fits.HDUList([fits.PrimaryHDU(), hdul[1].copy()]).writeto('copied_after_reading.fits', overwrite=True)
os.remove('read_before_copying.fits')
named = fits.CompImageHDU(((x * 7 + y * 11) % 1000).astype(np.int16), compression_type='GZIP_2')
named.name = 'TMP'
named.name = 'SCI'
fits.HDUList([fits.PrimaryHDU(), named]).writeto('renamed_twice.fits', overwrite=True)
with open('copied_after_reading.fits', 'rb') as f:
    data = f.read()
    assert b'ZPCOUNT =                    0' not in data and data.count(b'ZPCOUNT =') == 1
with open('renamed_twice.fits', 'rb') as f:
    data = f.read()
    assert data.index(b"EXTNAME = 'SCI     '") < data.index(b"EXTNAME = 'TMP     '")

# Writes the dithered images of this folder with astropy (astropy 5.2), as
# Python pipelines write them. Run once by hand; the tests read the files it
# made and never run it.
#
# dither_plain_*.fits: a float image quantized with SUBTRACTIVE_DITHER_1 and
# compressed by astropy, then read back and written uncompressed with the
# header astropy gives it, which keeps the ZDITHER0 card. The tests compress
# these with the FITS library, as fpack would, which then writes ZDITHER0
# twice.
#
# scaled_int16_*.fits: integers stored under BSCALE = 0.5, BZERO = 3.0, for
# which astropy writes the dithering it was asked for (ZQUANTIZ =
# 'SUBTRACTIVE_DITHER_1', ZDITHER0) though it stores the integers as they
# are: astropy reads stored * 0.5 + 3.0 exactly, with the stored integers
# (x * 37 + y * 101) % 2000 of the closed form below, which the tests
# compute on their own.
import numpy as np
from astropy.io import fits
ny, nx = 30, 40
y, x = np.mgrid[0:ny, 0:nx]
f32 = (np.sin(x / 5.0) * 100 + y * 0.25).astype(np.float32)
for seed, c in enumerate(['RICE_1', 'HCOMPRESS_1', 'GZIP_2', 'GZIP_1']):
    hdu = fits.CompImageHDU(data=f32, compression_type=c, quantize_method=1, dither_seed=1000 + seed, name='SCI')
    fits.HDUList([fits.PrimaryHDU(), hdu]).writeto('dithered.tmp', overwrite=True)
    with fits.open('dithered.tmp') as h:
        fits.PrimaryHDU(data=h[1].data, header=h[1].header).writeto('dither_plain_%s.fits' % c.lower(),
                                                                    overwrite=True)
stored = ((x * 37 + y * 101) % 2000).astype(np.int16)
for c in ['RICE_1', 'GZIP_1', 'GZIP_2', 'HCOMPRESS_1', 'PLIO_1']:
    hdu = fits.CompImageHDU((stored * 0.5 + 3.0).astype(np.float32), compression_type=c, quantize_method=1,
                            dither_seed=1234, name='SCI')
    hdu.scale('int16', bscale=0.5, bzero=3.0)
    fits.HDUList([fits.PrimaryHDU(), hdu]).writeto('scaled_int16_%s.fits' % c.lower(), overwrite=True)
    with fits.open('scaled_int16_%s.fits' % c.lower()) as h:
        assert (h[1].data == stored * 0.5 + 3.0).all()
import os
os.remove('dithered.tmp')

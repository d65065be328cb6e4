# Writes the tile-compressed images of this folder with astropy (CompImageHDU,
# astropy 5.2), as Python pipelines write .fz files, and each image also
# uncompressed (ImageHDU, plain_*.fits), whose header the compressed one must
# read as. Run once by hand; the tests read the files it made and never run
# it. Pixel values follow the closed forms below, which the tests compute on
# their own.
import numpy as np
from astropy.io import fits
ny, nx = 40, 56
y, x = np.mgrid[0:ny, 0:nx]
def save(name, data, ctype, **kw):
    hdu = fits.CompImageHDU(data=data, compression_type=ctype, name='SCI', **kw)
    fits.HDUList([fits.PrimaryHDU(), hdu]).writeto(name, overwrite=True)
def save_plain(name, data):
    hdu = fits.ImageHDU(data=data, name='SCI')
    fits.HDUList([fits.PrimaryHDU(), hdu]).writeto(name, overwrite=True)
u16 = ((x * 1237 + y * 977) % 65536).astype(np.uint16)
for c in ['RICE_1','GZIP_1','GZIP_2','HCOMPRESS_1']:
    save('u16_%s.fits' % c.lower(), u16, c)
save_plain('plain_u16.fits', u16)
i8 = ((x*7 + y*3) % 256 - 128).astype(np.int8)
save('i8_rice_1.fits', i8, 'RICE_1')
save_plain('plain_i8.fits', i8)
u32 = ((x*123457 + y*7654321) % 4294967296).astype(np.uint32)
save('u32_rice_1.fits', u32, 'RICE_1')
save_plain('plain_u32.fits', u32)
i16 = ((x*13 + y*29) % 30000).astype(np.int16)
save('i16_plio_1.fits', i16, 'PLIO_1')
save_plain('plain_i16.fits', i16)
f32 = (np.sin(x / 5.0) * 100 + y * 0.25).astype(np.float32)
save('f32_rice_1.fits', f32, 'RICE_1')
save('f32_gzip_2.fits', f32, 'GZIP_2')
save_plain('plain_f32.fits', f32)
# Without a name: astropy then names the table 'COMPRESSED_IMAGE', its default,
# which is no name of the image.
def save_unnamed(name, data):
    hdu = fits.CompImageHDU(data=data, compression_type='RICE_1')
    fits.HDUList([fits.PrimaryHDU(), hdu]).writeto(name, overwrite=True)
for label, data in [('u16', u16), ('i8', i8), ('u32', u32), ('i16', i16), ('f32', f32)]:
    save_unnamed('unnamed_%s_rice_1.fits' % label, data)

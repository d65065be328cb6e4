# Writes the files of this folder that hold a losslessly compressed float
# image beside quantized ones, with astropy (astropy 5.2.1), as a pipeline
# keeps a mask or a model exactly beside its science image. Run once by
# hand; the tests read the files it made and never run it.
#
# The FITS library keeps its quantize level from HDU to HDU, so each order
# is written:
# lossless_then_quantized.fits: [1] LOSSLESS, floats kept exact (GZIP_2,
#   quantize_level = 0: no ZSCALE column, ZQUANTIZ = 'NO_DITHER'); [2] QUANT,
#   floats quantized and dithered (RICE_1, SUBTRACTIVE_DITHER_1, seed 321);
#   [3] SCALED, 16-bit integers under BSCALE = 0.5, BZERO = 3.0, for which
#   astropy writes ZQUANTIZ = 'SUBTRACTIVE_DITHER_1' though it stores them
#   as they are (RICE_1, 2 bytes a pixel).
# quantized_then_lossless.fits: QUANT, then LOSSLESS.
#
# The pixels follow the closed forms below, which the tests compute on their
# own: LOSSLESS reads exactly, SCALED exactly as stored * 0.5 + 3.0, QUANT
# within half its tile's quantization step (the row's ZSCALE) of the form.
import numpy as np
from astropy.io import fits
ny, nx = 30, 40
y, x = np.mgrid[0:ny, 0:nx]
lossless = ((x * 7 + y * 13) % 64 / 8.0 - 3.5).astype(np.float32)
smooth = (np.sin(x / 5.0) * 100 + y * 0.25).astype(np.float32)
stored = ((x * 37 + y * 101) % 2000).astype(np.int16)


def exact():
    return fits.CompImageHDU(lossless, compression_type='GZIP_2', quantize_level=0, name='LOSSLESS')


def quantized():
    return fits.CompImageHDU(smooth, compression_type='RICE_1', quantize_method=1, dither_seed=321, name='QUANT')


def scaled():
    hdu = fits.CompImageHDU((stored * 0.5 + 3.0).astype(np.float32), compression_type='RICE_1', quantize_method=1,
                            dither_seed=1234, name='SCALED')
    hdu.scale('int16', bscale=0.5, bzero=3.0)
    return hdu


fits.HDUList([fits.PrimaryHDU(), exact(), quantized(), scaled()]).writeto('lossless_then_quantized.fits',
                                                                           overwrite=True)
fits.HDUList([fits.PrimaryHDU(), quantized(), exact()]).writeto('quantized_then_lossless.fits', overwrite=True)
for name, order in [('lossless_then_quantized.fits', ['LOSSLESS', 'QUANT', 'SCALED']),
                    ('quantized_then_lossless.fits', ['QUANT', 'LOSSLESS'])]:
    with fits.open(name, disable_image_compression=True) as tables:
        for extension in order:
            table = tables[extension]
            assert ('ZSCALE' in table.columns.names) == (extension == 'QUANT')
    with fits.open(name) as h:
        assert (h['LOSSLESS'].data == lossless).all()
        step = fits.open(name, disable_image_compression=True)['QUANT'].data['ZSCALE']
        assert (np.abs(h['QUANT'].data - smooth) <= step[:, None] / 2 * (1 + 1e-6)).all()
        if 'SCALED' in order:
            assert h['SCALED'].header['BITPIX'] == 16
            assert (h['SCALED'].data == stored * 0.5 + 3.0).all()

# Writes dss_plate.fits with astropy (astropy 5.2.1): a cut-out as the sky
# survey servers serve it, with no CTYPE, CRPIX or CD but the plate's
# solution (its centre PLTRAH..PLTDECS, PLTSCALE, the pixel sizes, the
# cut-out's corner on the plate CNPIX1/2, PPO1-6 and the polynomials
# AMDX1-20 / AMDY1-20, values of the order of a POSS plate's). Run once by
# hand; the tests read the file it made and never run it. Pixel values are
# a ramp; the tests read only the header.
#
# It also checks by hand the rule the tests hold results to, with astropy's
# own reading of plate cards: pixel p of axis n lies at plate offset
# (CNPIXn + p - 0.5) x the pixel size, so a header whose pixel q is the
# input's point first + step (q - 1) gives q the input's sky position once
# CNPIXn is (CNPIXn + first - 0.5) / step - 0.5 and the size is step times
# the input's, a reversed axis's negative.
import warnings
import numpy as np
from astropy.io import fits
from astropy.wcs import WCS, FITSFixedWarning
warnings.simplefilter('ignore', FITSFixedWarning)
nx, ny = 50, 60

header = fits.Header()
for key, value, comment in [
        ('PLTLABEL', 'SF00522', 'Observatory plate label'), ('PLATEID', 'A0A4', 'GSSS Plate ID'),
        ('EQUINOX', 2000.0, 'Julian Equinox'), ('PLTRAH', 0, 'Plate center RA'), ('PLTRAM', 53, ''),
        ('PLTRAS', 8.934, ''), ('PLTDECSN', '+', 'Plate center Dec'), ('PLTDECD', 39, ''),
        ('PLTDECM', 38, ''), ('PLTDECS', 47.0, ''), ('PLTSCALE', 67.2, 'Plate Scale arcsec per mm'),
        ('XPIXELSZ', 25.28445, 'X pixel size microns'), ('YPIXELSZ', 25.28445, 'Y pixel size microns'),
        ('CNPIX1', 9235, 'X corner (pixels)'), ('CNPIX2', 7040, 'Y corner'), ('PPO1', 0.0, ''),
        ('PPO2', 0.0, ''), ('PPO3', 177500.0, ''), ('PPO4', 0.0, ''), ('PPO5', 0.0, ''), ('PPO6', 177500.0, '')]:
    header[key] = (value, comment)
amdx = [67.13527, 0.004318, -149.2516, -6.481e-06, 1.1e-05, -4.3e-06, 0.0, 2.317e-06, -1.44e-08, 2.095e-06,
        -2.94e-08, 0.0, 0.0] + [0.0] * 7
amdy = [67.13419, -0.003948, 138.4327, -4.75e-06, 1.86e-05, 4.71e-06, 0.0, 2.4e-06, 1.33e-09, 2.165e-06,
        1.2e-08, 0.0, 0.0] + [0.0] * 7
for i in range(20):
    header['AMDX%d' % (i + 1)] = amdx[i]
for i in range(20):
    header['AMDY%d' % (i + 1)] = amdy[i]
fits.PrimaryHDU(np.arange(nx * ny, dtype=np.float32).reshape(ny, nx), header).writeto('dss_plate.fits',
                                                                                       overwrite=True)

written = fits.getheader('dss_plate.fits')
assert 'CTYPE1' not in written and 'CRPIX1' not in written
sky = WCS(written)
for (first1, step1), (first2, step2) in [((11, 1), (5, 1)), ((50, -1), (1, 1)), ((1, 2), (60, -3)),
                                         ((0.625, 0.25), (0.625, 0.25)), ((1, 0.25), (1, 0.25))]:
    moved = written.copy()
    moved['CNPIX1'] = (written['CNPIX1'] + first1 - 0.5) / step1 - 0.5
    moved['CNPIX2'] = (written['CNPIX2'] + first2 - 0.5) / step2 - 0.5
    moved['XPIXELSZ'] = written['XPIXELSZ'] * step1
    moved['YPIXELSZ'] = written['YPIXELSZ'] * step2
    for q1, q2 in [(1, 1), (7, 1), (1, 9), (12, 13)]:
        got = WCS(moved).all_pix2world([[q1, q2]], 1)[0]
        want = sky.all_pix2world([[first1 + step1 * (q1 - 1), first2 + step2 * (q2 - 1)]], 1)[0]
        assert np.allclose(got, want, rtol=0, atol=1e-9), (first1, step1, q1, q2, got, want)

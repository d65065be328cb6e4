# Writes lookup_distortion.fits with astropy (astropy 5.2.1): an image laid
# out as HST's calibrated ACS and WFC3 images are, its [SCI,1] describing
# its coordinates with distortion tables kept in other extensions: CPDIS1/2
# with DP1/DP2 records naming WCSDVARR extensions, and D2IMDIS1/2 with
# D2IM1/D2IM2 records naming D2IMARR extensions. astropy's WCS.to_fits()
# writes both kinds of table. A primary without data comes first and an
# unrelated ERR extension sits between the image and its tables, so that
# a result which takes the image's header alone, or the tables by place
# rather than by name, is caught. Run once by hand; the tests read the file
# it made and never run it.
import numpy as np
from astropy.io import fits
from astropy.wcs import WCS, DistortionLookupTable

nx, ny = 40, 30

w = WCS(naxis=2)
w.wcs.ctype = ['RA---TAN', 'DEC--TAN']
w.wcs.crval = [150.0, 2.5]
w.wcs.crpix = [20.5, 15.5]
w.wcs.cd = [[-1.4e-5, 2.0e-6], [1.5e-6, 1.4e-5]]

# Small tables, each a plane of a different tilt, so that every table and
# every cell tells itself apart: a mix-up of tables or axes moves a corner.
# Table pixel t (from 1) of an axis lies at image pixel CRVAL + (t - CRPIX)
# CDELT.
def table(shape, a, b, c):
    rows, cols = np.mgrid[0:shape[0], 0:shape[1]]
    return (a + b * cols + c * rows).astype(np.float32)

cp1 = DistortionLookupTable(table((4, 5), 0.10, 0.030, -0.020), (1.0, 1.0), (1.0, 1.0), (10.0, 10.0))
cp2 = DistortionLookupTable(table((4, 5), -0.05, 0.015, 0.040), (2.0, 1.0), (11.0, 1.0), (10.0, 10.0))
d2 = DistortionLookupTable(table((1, 9), 0.02, -0.004, 0.0), (1.0, 1.0), (1.0, 1.0), (5.0, 1.0))
d2y = DistortionLookupTable(table((8, 1), -0.01, 0.0, 0.003), (1.0, 1.0), (1.0, 1.0), (1.0, 5.0))
w.cpdis1, w.cpdis2 = cp1, cp2
w.det2im1, w.det2im2 = d2, d2y

sci = np.arange(nx * ny, dtype=np.float32).reshape(ny, nx) / 7.0
tables = w.to_fits()  # its primary holds the cards, its extensions the tables
header = tables[0].header
hdus = [fits.PrimaryHDU(), fits.ImageHDU(sci, header, name='SCI'),
        fits.ImageHDU(np.ones((ny, nx), dtype=np.float32), name='ERR')]
hdus += [hdu.copy() for hdu in tables[1:]]
fits.HDUList(hdus).writeto('lookup_distortion.fits', overwrite=True)

# The file reads back with its tables in every corner.
with fits.open('lookup_distortion.fits') as f:
    back = WCS(f['SCI'].header, f)
    assert back.cpdis1 is not None and back.det2im2 is not None
    names = [(h.name, h.ver) for h in f[3:]]
    assert names == [('D2IMARR', 1), ('D2IMARR', 2), ('WCSDVARR', 1), ('WCSDVARR', 2)], names

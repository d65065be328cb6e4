# Writes the images of this folder whose coordinates the results must keep,
# with astropy (astropy 5.2.1). Run once by hand; the tests read the files it
# made and never run it.
# - radio_plane_3axes.fits, radio_plane_4axes.fits: a plane cut from a radio
#   cube (RA, Dec, frequency, and Stokes for the second) as astropy users cut
#   one, the cube's header kept: a 2D image whose header still describes 3
#   or 4 axes (WCSAXES, CRPIX3, CDELT3, CTYPE3 = 'FREQ', CTYPE4 = 'STOKES').
# - rotated_pc.fits: a rotated celestial WCS, which astropy writes as a PC
#   matrix beside CDELT.
# Pixel values are a ramp; the tests read only the headers' coordinates.
import numpy as np
from astropy.io import fits
from astropy.wcs import WCS
nx, ny = 50, 60

def radio_cube(naxis):
    w = WCS(naxis=naxis)
    w.wcs.ctype = ['RA---SIN', 'DEC--SIN', 'FREQ', 'STOKES'][:naxis]
    w.wcs.crval = [187.5, 12.25, 1.4204e9, 1.0][:naxis]
    w.wcs.crpix = [25.5, 30.0, 1.0, 1.0][:naxis]
    w.wcs.cdelt = [-5.0e-4, 5.0e-4, 2.5e5, 1.0][:naxis]
    w.wcs.cunit = ['deg', 'deg', 'Hz', ''][:naxis]
    shape = [1] * (naxis - 2) + [ny, nx]
    cube = np.arange(np.prod(shape), dtype=np.float32).reshape(shape)
    return fits.PrimaryHDU(cube, w.to_header())

for naxis in (3, 4):
    cube = radio_cube(naxis)
    plane = cube.data[(0,) * (naxis - 2)]
    fits.PrimaryHDU(plane, cube.header).writeto('radio_plane_%daxes.fits' % naxis, overwrite=True)
    header = fits.getheader('radio_plane_%daxes.fits' % naxis)
    assert header['NAXIS'] == 2 and header['WCSAXES'] == naxis and header['CTYPE3'] == 'FREQ'

w = WCS(naxis=2)
w.wcs.ctype = ['RA---TAN', 'DEC--TAN']
w.wcs.crval = [150.1234567891234, 2.2345678912345]
w.wcs.crpix = [20.5, 33.25]
angle = np.deg2rad(30.0)
w.wcs.cdelt = [-2.0e-4, 3.0e-4]
w.wcs.pc = [[np.cos(angle), -np.sin(angle)], [np.sin(angle), np.cos(angle)]]
header = w.to_header()
assert header['PC1_2'] != 0 and header['CDELT1'] == -2.0e-4 and 'CD1_1' not in header
fits.PrimaryHDU(np.arange(nx * ny, dtype=np.float32).reshape(ny, nx), header).writeto('rotated_pc.fits',
                                                                                     overwrite=True)

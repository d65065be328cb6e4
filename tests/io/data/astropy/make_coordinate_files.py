# Writes the images of this folder whose coordinates the results must keep,
# with astropy (astropy 5.2.1). Run once by hand; the tests read the files it
# made and never run it.
# - radio_plane_3axes.fits, radio_plane_4axes.fits: a plane cut from a radio
#   cube (RA, Dec, frequency, and Stokes for the second) as astropy users cut
#   one, the cube's header kept: a 2D image whose header still describes 3
#   or 4 axes (WCSAXES, CRPIX3, CDELT3, CTYPE3 = 'FREQ', CTYPE4 = 'STOKES').
# - rotated_pc.fits: a rotated celestial WCS, which astropy writes as a PC
#   matrix beside CDELT.
# - spectral_plane_pc.fits, spectral_plane_cd.fits: the first plane of a
#   spectral cube whose frequency axis leans on the pixel axes (PC3_1 and
#   PC3_2 non-zero, and RA on the channel, PC1_3), the cube's header kept
#   (NAXIS = 2, WCSAXES = 3); the second with the same map as a CD matrix.
# - wcs_1996_pc.fits, wcs_1996_cd.fits: a rotated celestial WCS by the 1996
#   names PC001001..PC002002 (with CDELTn) and CD001001..CD002002, which
#   astropy reads as the PCi_j and CDi_j it is checked against here.
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

def plane(name, header):
    cube = np.arange(nx * ny, dtype=np.float32).reshape(1, ny, nx)
    fits.PrimaryHDU(cube[0], header).writeto(name, overwrite=True)
    header = fits.getheader(name)
    assert header['NAXIS'] == 2 and header['WCSAXES'] == 3
    return header

w = WCS(naxis=3)
w.wcs.ctype = ['RA---TAN', 'DEC--TAN', 'FREQ']
w.wcs.crval = [187.5, 12.25, 1.4204e9]
w.wcs.crpix = [25.5, 30.0, 3.0]
w.wcs.cdelt = [-5.0e-4, 5.0e-4, 2.5e5]
w.wcs.cunit = ['deg', 'deg', 'Hz']
w.wcs.pc = [[0.8, -0.6, 0.1], [0.6, 0.8, 0.0], [0.02, -0.03, 1.0]]
pc_header = plane('spectral_plane_pc.fits', w.to_header())
assert pc_header['PC3_1'] != 0 and pc_header['PC3_2'] != 0 and pc_header['PC1_3'] != 0
# The same map as a CD matrix, whose left-out terms are 0, diagonal too.
cd_header = pc_header.copy()
for i in range(1, 4):
    for j in range(1, 4):
        key = 'PC%d_%d' % (i, j)
        term = pc_header.get(key, 1.0 if i == j else 0.0) * pc_header['CDELT%d' % i]
        if key in cd_header:
            cd_header.rename_keyword(key, 'CD%d_%d' % (i, j))
        if term != 0:
            cd_header['CD%d_%d' % (i, j)] = term
for i in range(1, 4):
    del cd_header['CDELT%d' % i]
cd_header = plane('spectral_plane_cd.fits', cd_header)
pixels = np.array([[1.0, 1.0, 0.0], [49.0, 0.0, 0.0], [0.0, 59.0, 0.0], [20.0, 30.0, 0.0]])
assert np.allclose(WCS(cd_header).wcs_pix2world(pixels, 0), WCS(pc_header).wcs_pix2world(pixels, 0),
                   rtol=1e-12, atol=0)

modern = {'CTYPE1': 'RA---TAN', 'CTYPE2': 'DEC--TAN', 'CRVAL1': 150.0, 'CRVAL2': 2.0, 'CRPIX1': 24.0,
          'CRPIX2': 31.5}
old_pc = dict(modern, CDELT1=-2.0e-4, CDELT2=3.0e-4, PC001001=0.8, PC001002=-0.6, PC002001=0.6,
              PC002002=0.8)
old_cd = dict(modern, CD001001=-1.6e-4, CD001002=1.8e-4, CD002001=1.2e-4, CD002002=2.4e-4)
for name, cards, matrix in (('wcs_1996_pc.fits', old_pc, {'PC1_1': 0.8, 'PC1_2': -0.6, 'PC2_1': 0.6,
                                                             'PC2_2': 0.8, 'CDELT1': -2.0e-4, 'CDELT2': 3.0e-4}),
                            ('wcs_1996_cd.fits', old_cd, {'CD1_1': -1.6e-4, 'CD1_2': 1.8e-4, 'CD2_1': 1.2e-4,
                                                             'CD2_2': 2.4e-4})):
    header = fits.Header()
    for key, value in cards.items():
        header[key] = value
    fits.PrimaryHDU(np.arange(nx * ny, dtype=np.float32).reshape(ny, nx), header).writeto(name, overwrite=True)
    read = fits.getheader(name)
    assert 'PC1_1' not in read and 'CD1_1' not in read
    pixels = np.array([[0.0, 0.0], [49.0, 0.0], [0.0, 59.0], [20.0, 30.0]])
    assert np.allclose(WCS(read).wcs_pix2world(pixels, 0), WCS(dict(modern, **matrix)).wcs_pix2world(pixels, 0),
                       rtol=1e-12, atol=0)

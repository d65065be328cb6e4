// The coordinate cards of an image section the FITS library cuts
// ("x.fits[40:11,5:44]"): its header moves the reference pixels that stand
// and the CD matrix with the pixels, but scales CDELTn as if each described
// a pixel axis, leaves the PC matrix, the matrices' 1996 names, SIP terms
// and IRAF's LTV/LTM as they were, and a description without CRPIXn whole. The
// section's cards are set right here before they are read, or the section is
// refused where they cannot be.
#pragma once

#include <string>

// `cards`: the section's header cards as the library wrote them, 80 columns
// each, no END; `file`: the name that asked for the section (nothing is
// done for another name). A CRPIXn left out is moved, with what the library
// moves beside one; a reversed or stepped axis turns the off-diagonal PC
// terms of every description without a CD matrix (the rows of world axes
// past the image's too), scales the columns of CD00i00j, and writes the
// CDELTn the library could not scale, since it left it out; LTVn and LTMi_j
// follow the section, and so do a DSS plate solution's CNPIXn and pixel
// sizes (io/fits_plate_coordinates.h). Refuses (status -1), saying what to
// ask for instead, a reversed or stepped section of SIP coordinates, and
// one of IRAF's physical pixels, of a DSS plate solution or of a
// description without CRPIXn that reverses an axis ("-*:2") whose length
// it does not give, and one whose steps take a card past the largest real
// (card_arithmetic). Items past the image's axes the library leaves unread,
// and so are they here.
void fits_section_coordinates(std::string& cards, const std::string& file);

// The coordinates of a Digitized Sky Survey cut-out: no CTYPE, CRPIX or CD,
// but the plate's solution (PLTRAH.., PPO1-6, AMDX/AMDY) and where the
// cut-out lies on the scanned plate. Pixel p of axis n lies at plate offset
// (CNPIXn + p - 0.5) x the pixel size (XPIXELSZ, YPIXELSZ), so a section
// or a zoom keeps each pixel's sky position by moving CNPIXn and scaling the
// pixel size; every other plate card stays as the survey wrote it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "io/fits_header.h"
#include "io/fits_name_gate.h"

// Whether the cards (80 columns each, up to END or `count`) hold a plate
// solution: its centre's right ascension PLTRAH stands.
bool has_plate_solution(const char* cards, std::size_t count);

// Sets CNPIXn and the pixel sizes of a section's cards (80 columns each, no
// END) that hold a plate solution, whose pixel p of axis n is the input's
// pixel first + step (p - 1) of `axes`[n] (each first given: a "-*" axis's
// resolved to its last pixel), so that each keeps the plate offset of the
// input pixel it came from. Refuses (status -1), saying what to do instead,
// a section of a plate solution that lacks CNPIXn or a pixel size, or
// whose cards `section` takes past the largest real.
void plate_section_coordinates(std::string& cards, const std::vector<fits_section_axis>& axes,
                               const card_arithmetic& section);

// Sets CNPIXn and the pixel sizes of the record's cards for an image zoomed
// by `factor`, whose input pixel p lands on pixel factor p + shift, so that
// each result pixel keeps the plate offset of the input point it samples.
// Refuses (status -1) a plate solution that lacks CNPIXn or a pixel size,
// or whose cards the `zoom` takes past the largest real.
void plate_zoom_coordinates(fitsstruct* rec, int factor, double shift, const card_arithmetic& zoom);

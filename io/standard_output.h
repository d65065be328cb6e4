// The standard output as the destination of a result image (the name "-").
// Such an output must hold the image file and nothing else, while a run
// prints its progress, the libraries their notes and the failures their
// messages on the standard output too; a program whose result goes there
// first hands the standard output to the image writers alone.
#pragma once

#include <cstdio>

// The stream every writer sends a result named "-" to: stdout, unless
// io_standard_output_for_results_only kept the standard output aside.
std::FILE* io_standard_output();

// From now on only the image writers reach the standard output, through a
// stream on a copy of its descriptor; descriptor 1 is pointed at the
// standard error, so every other print of the process, whoever makes it,
// goes there. Called once, before any other thread starts; a standard
// output that is not open ends the process.
void io_standard_output_for_results_only();

// The standard output as the destination of a result image (the name "-").
// Such an output must hold the image file and nothing else, while a run
// prints its progress, the libraries their notes and the failures their
// messages on the standard output too; a program whose result goes there
// first hands the standard output to the image writers alone. And the
// standard error, which must never be the input: what is printed there
// would write over it.
#pragma once

#include <sys/types.h>

#include <cstdio>

// The stream every writer sends a result named "-" to: stdout, unless
// io_standard_output_for_results_only kept the standard output aside.
std::FILE* io_standard_output();

// From now on only the image writers reach the standard output, through a
// stream on a copy of its descriptor; descriptor 1 is pointed at the
// standard error, so every other print of the process, whoever makes it,
// goes there. Called once, before any other thread starts; a standard
// output that is not open ends the process. While the standard error is a
// regular file, which could be the input, what is printed waits in the
// standard output's buffer until io_release_held_prints.
void io_standard_output_for_results_only();

// The input is known and is not the standard error: the prints held back
// go out, and from now on line by line. Does nothing when none are held.
void io_release_held_prints();

// Ends the process when the standard error is the regular file of this
// device and inode, an input just opened (`name` as it was opened). No
// print reaches that file any more, nor the standard output when it is the
// same file; the message goes to the standard output (the one kept for
// results, when they go there) unless that is the input too, and then
// nowhere. Otherwise releases the held prints.
void io_refuse_standard_error_onto(dev_t device, ino_t inode, const char* name);

// Points the descriptor at /dev/null (closes it if that fails), so that
// what is still buffered for it, and what follows, goes nowhere.
void io_send_nowhere(int descriptor);

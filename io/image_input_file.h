// The file a read of an image name takes its bytes from, so that a program
// can tell its input among the files it is about to replace: the name as the
// reader of the run's format completes it (an added extension, a library
// prefix or HDU selector taken off, a compressed sibling), or the standard
// input.
#pragma once

#include <sys/stat.h>

// The status of the regular file the reader of the run's format (fixed from
// name when it is not yet) reads for `name`, at the end of its links, or of
// the standard input when the name stands for it and it is redirected from
// a regular file. False when the read takes no regular file: a pipe, a
// network name, a missing file.
bool io_input_file_status(const char* name, struct stat& file);

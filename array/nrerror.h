// Failure exit of the small numerical toolkit (sorting, offset arrays,
// incomplete gamma function). It keeps its own three-line report and status 1,
// which scripts around the system may test for.
#pragma once

[[noreturn]] void nrerror(const char* text);

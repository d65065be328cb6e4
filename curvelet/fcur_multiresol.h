// The fast curvelet as a MultiResol transform type. The container's library
// lies below this one and cannot name FCUR, so this library fills that
// type's dispatch row at run time; a program or test that uses the type
// registers it once before allocating.
#pragma once

// Idempotent; until it runs, the type is refused as not available.
void fcur_register_multiresol();

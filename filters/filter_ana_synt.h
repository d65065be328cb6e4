// The decimating filter sets: the catalogue type_sb_filter, the L1/L2
// normalisation choice, and FilterAnaSynt, one analysis/synthesis pair of
// low-pass filters taken from a built-in table or a user ".wvf" file.
#pragma once

#include <string>
#include <vector>

#include "array/base_types.h"

enum type_sb_filter {
  SB_UNKNOWN = 0,
  F_MALLAT_7_9 = 1,    // "Biorthogonal 7/9 filters"
  F_DAUBE_4 = 2,       // "Daubechies filter 4"
  U_HAAR_B3S = 3,      // "Biorthogonal 2/6 Haar filters"
  U_HAAR_B3S2 = 4,     // "Biorthogonal 2/10 Haar filters"
  F_ODEGARD_9_7 = 5,   // "Odegard 9/7 filters"
  F_5_3 = 6,           // "5/3 filter"
  F_LEMARIE_1 = 7,     // "Battle-Lemarie filters (2 vanishing moments)"
  F_LEMARIE_3 = 8,     // "Battle-Lemarie filters (4 vanishing moments)"
  F_LEMARIE_5 = 9,     // "Battle-Lemarie filters (6 vanishing moments)"
  F_USER = 10,         // "User's filters"
  F_HAAR = 11,         // "Haar filter"
  F_3_5 = 12,          // "3/5 filter"
  F_MALLAT_9_7 = 13    // "Biorthogonal 9/7 filter"
};

// Normalisation of a bank: L1 low-pass taps sum to 1 (synthesis multiplies
// by 2), L2 they sum to sqrt(2).
enum sb_type_norm { NORM_L1 = 0, NORM_L2 = 1 };

// The square root of 2 in single precision.
extern float SQRT2;

// User filter file named by the filter option (-T type,file); null when none.
extern char* UserFilterFileName;

class FilterAnaSynt {
 public:
  int NormL2;               // 1: L2-normalised pair, 0: L1
  type_sb_filter TypeFilter;
  float* Analysis;          // analysis low-pass taps
  float* Synthesis;         // synthesis low-pass taps
  int Size_Ana;
  int Size_Synt;
  int Start_Ana;            // index of the first tap (user files only)
  int Start_Synt;
  Bool Verbose;             // report the reading of a user file
  char* FileName;           // user filter file, null unless given

  FilterAnaSynt();
  explicit FilterAnaSynt(type_sb_filter Type);
  explicit FilterAnaSynt(const char* Name);
  FilterAnaSynt(const FilterAnaSynt& other);
  FilterAnaSynt& operator=(const FilterAnaSynt& other);
  ~FilterAnaSynt();

  // Clears everything but NormL2 (and releases taps read from a file).
  void reset_param();
  // Selects the pair of a set; set 10 locates and reads the user file.
  void alloc(type_sb_filter Type);
  // Reads a user filter file (".wvf" is appended when the name lacks it).
  void read_from_file(const char* Name);

  int norm() const { return NormL2; }
  type_sb_filter type_filter() const { return TypeFilter; }
  float* analysis() const { return Analysis; }
  float* synthesis() const { return Synthesis; }
  int size_analysis() const { return Size_Ana; }
  int size_synthesis() const { return Size_Synt; }

 private:
  void set_file_name(const char* Name);

  // Storage of what a user file or a name gave; the public pointers refer
  // into these when set from them.
  std::vector<float> user_analysis_;
  std::vector<float> user_synthesis_;
  std::string file_name_;
};

// Text of a filter set ("Undefined sub-band filters" outside 1 to 13).
const char* StringSBFilter(type_sb_filter Type);

// Help text of the filter options, on standard error.
void sb_usage(type_sb_filter Default);

// Parses the filter option "type[,file]"; stops on a type outside 1 to 12.
// A file name given sets UserFilterFileName.
type_sb_filter get_filter_bank(const char* Arg);

// Name of a user filter file: Name itself when it contains ".wvf", else
// Name with ".wvf" appended.
std::string filtername(const char* Name);

// G[N-1-k] = Sign * (-1)^k * H[k]: the filter reversed with alternating
// signs, the last tap of G having the sign Sign.
void filter_complement(const float* H, float* G, int N, int Sign);

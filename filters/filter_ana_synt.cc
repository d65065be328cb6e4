// Built-in filter tables, user ".wvf" filter files and the small helpers of
// the filter-set catalogue.
#include "filters/filter_ana_synt.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "array/fatal.h"

float SQRT2 = 1.41421356237309504880f;
char* UserFilterFileName = nullptr;

namespace {

// Backing store of UserFilterFileName.
std::string user_filter_file_store;

// Symmetric tables are written as their centre tap followed by the taps to
// its right; the full table mirrors them.
std::vector<float> symmetric(std::initializer_list<float> half) {
  std::vector<float> right(half);
  int n = static_cast<int>(right.size());
  std::vector<float> full(2 * n - 1);
  for (int k = 0; k < n; k++) {
    full[n - 1 + k] = right[k];
    full[n - 1 - k] = right[k];
  }
  return full;
}

// The constant tables of the filter sets. Built on first use so that no
// other translation unit can see them before they are filled.
struct BuiltinTables {
  std::vector<float> antonini_synthesis = symmetric(
      {0.7884856f, 0.41809228f, -0.040689416f, -0.06453888f});
  std::vector<float> antonini_analysis = symmetric(
      {0.8526987f, 0.37740284f, -0.1106244f, -0.023849465f, 0.037828457f});
  std::vector<float> daub4 = {0.f, 0.f, 0.f, 0.4829629f, 0.8365163f, 0.22414386f, -0.12940952f};
  std::vector<float> odegard_analysis = symmetric(
      {0.7875138f, 0.38697186f, -0.09306926f, -0.033418473f, 0.05286577f});
  std::vector<float> odegard_synthesis = symmetric(
      {0.8167806f, 0.44030172f, -0.054836925f, -0.08674832f});
  std::vector<float> haar_analysis = {0.f, 0.70710677f, 0.70710677f};
  std::vector<float> haar2_synthesis = {0.f,         -0.088388346f, 0.088388346f, 0.70710677f,
                                        0.70710677f, 0.088388346f,  -0.088388346f};
  std::vector<float> haar4_synthesis = {0.f,          0.016572814f,  -0.016572814f, -0.121533975f,
                                        0.121533975f, 0.70710677f,   0.70710677f,   0.121533975f,
                                        -0.121533975f, -0.016572814f, 0.016572814f};
  std::vector<float> f5_3_analysis = {-0.125f, 0.25f, 0.75f, 0.25f, -0.125f};
  std::vector<float> f5_3_synthesis = {0.25f, 0.5f, 0.25f};
  std::vector<float> lemarie1 = symmetric(
      {0.81764656f, 0.39729673f, -0.06910107f, -0.051945377f, 0.016974818f, 0.009990606f,
       -0.0038832638f, -0.0022019462f, 0.0009233719f, 0.00051163597f, -0.00022429586f,
       -0.00012268637f});
  std::vector<float> lemarie3 = symmetric(
      {0.76612985f, 0.43392286f, -0.050201718f, -0.11003691f, 0.032080848f, 0.0420683f,
       -0.017176319f, -0.01798228f, 0.008685288f, 0.0082014715f, -0.0043538376f,
       -0.0038824237f, 0.002186712f, 0.001882119f, -0.0011037478f, -0.00092718605f,
       0.0005599518f, 0.00046209255f, -0.00028541355f, -0.00023230421f, 0.00014609806f});
  std::vector<float> lemarie5 = symmetric(
      {0.7472334f, 0.4424634f, -0.037019994f, -0.12926869f, 0.029474178f, 0.061312355f,
       -0.021006295f, -0.03251997f, 0.014009689f, 0.018208558f, -0.009049351f, -0.010562022f,
       0.0057683205f, 0.006279134f, -0.0036602095f, -0.0037992266f, 0.002321176f,
       0.002328629f, -0.0014737089f, -0.0014412528f, 0.0009373913f, 0.00089882145f,
       -0.00059748377f, -0.00056393014f, 0.00038161408f, 0.00035556f, -0.00024421336f,
       -0.00022509746f, 0.00015656611f, 0.00014299533f});
  std::vector<float> haar_coeffs = {1.f / SQRT2, 1.f / SQRT2, 0.f};
};

BuiltinTables& tables() {
  static BuiltinTables t;
  return t;
}

// Filter files describe a handful of taps; a larger index range is a broken
// file, not a filter, and would ask for an absurd allocation.
constexpr int MaxFilterHalfWidth = 65536;

// Reads the whitespace-separated numbers of a ".wvf" file and stops with a
// message naming the file on the first malformed one.
class FilterFileReader {
 public:
  FilterFileReader(std::ifstream& in, const std::string& path) : in_(in), path_(path) {}

  [[noreturn]] void bad_format(const std::string& what) const {
    fatal_exitf(-1, stdout, "Error: bad filter file format ... %s: %s\n", path_.c_str(),
                what.c_str());
  }

  int read_index(const char* what) {
    std::string token;
    if (!(in_ >> token)) bad_format(std::string("missing ") + what);
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(token.c_str(), &end, 10);
    if (end == token.c_str() || *end != '\0')
      bad_format(std::string(what) + " is not an integer: \"" + token + "\"");
    if (errno == ERANGE || v < -MaxFilterHalfWidth || v > MaxFilterHalfWidth)
      bad_format(std::string(what) + " out of range: " + token);
    return static_cast<int>(v);
  }

  float read_tap(const char* filter, int index) {
    std::string token;
    if (!(in_ >> token))
      bad_format(std::string("missing ") + filter + " tap of index " + std::to_string(index));
    char* end = nullptr;
    float v = std::strtof(token.c_str(), &end);
    if (end == token.c_str() || *end != '\0' || !std::isfinite(v))
      bad_format(std::string(filter) + " tap of index " + std::to_string(index) +
                 " is not a finite number: \"" + token + "\"");
    return v;
  }

  // One filter: its index range, then its taps, stored centred in an array
  // of odd length with the missing side padded with zeros. Returns the start
  // index (-Half).
  int read_filter(const char* filter, std::vector<float>& taps, Bool verbose, bool analysis,
                  double* sum_squares, double* sum) {
    std::string low_name = std::string(filter) + " lowest index";
    std::string high_name = std::string(filter) + " highest index";
    int low = read_index(low_name.c_str());
    int high = read_index(high_name.c_str());
    if (high < low)
      bad_format(std::string(filter) + " index range " + std::to_string(low) + " to " +
                 std::to_string(high) + " is empty");
    int count = high - low + 1;
    if (verbose) {
      if (analysis)
        std::printf("  Analysis: Range low = %d  Range high = %d Size = %d\n", low, high, count);
      else
        std::printf("  Synthesis: Range low = %d  Range high = %d  Size = %d\n", low, high,
                    count);
    }
    int half = high > -low ? high : -low;
    taps.assign(2 * half + 1, 0.f);
    double s1 = 0., s2 = 0.;
    for (int i = 0; i < count; i++) {
      float v = read_tap(filter, low + i);
      int pos = half + low + i;
      if (pos < 0 || pos > 2 * half) fatal_exitf(-1, stdout, "Error: bad index ind = %d\n", pos);
      taps[pos] = v;
      s1 += v;
      s2 += double(v) * v;
    }
    *sum = s1;
    *sum_squares = s2;
    return -half;
  }

 private:
  std::ifstream& in_;
  std::string path_;
};

}  // namespace

FilterAnaSynt::FilterAnaSynt() : NormL2(1) { reset_param(); }

FilterAnaSynt::FilterAnaSynt(type_sb_filter Type) : NormL2(1) {
  reset_param();
  alloc(Type);
}

FilterAnaSynt::FilterAnaSynt(const char* Name) : NormL2(1) {
  reset_param();
  set_file_name(Name);
  alloc(F_USER);
}

FilterAnaSynt::FilterAnaSynt(const FilterAnaSynt& other) : NormL2(other.NormL2) {
  reset_param();
  *this = other;
}

FilterAnaSynt& FilterAnaSynt::operator=(const FilterAnaSynt& other) {
  if (this == &other) return *this;
  NormL2 = other.NormL2;
  TypeFilter = other.TypeFilter;
  Size_Ana = other.Size_Ana;
  Size_Synt = other.Size_Synt;
  Start_Ana = other.Start_Ana;
  Start_Synt = other.Start_Synt;
  Verbose = other.Verbose;
  user_analysis_ = other.user_analysis_;
  user_synthesis_ = other.user_synthesis_;
  // Taps read from a file are owned: the copy refers to its own.
  bool own_ana = other.Analysis != nullptr && other.Analysis == other.user_analysis_.data();
  bool own_syn = other.Synthesis != nullptr && other.Synthesis == other.user_synthesis_.data();
  Analysis = own_ana ? user_analysis_.data() : other.Analysis;
  Synthesis = own_syn ? user_synthesis_.data() : other.Synthesis;
  file_name_ = other.file_name_;
  bool own_name = other.FileName != nullptr && other.FileName == other.file_name_.data();
  FileName = own_name ? &file_name_[0] : other.FileName;
  return *this;
}

FilterAnaSynt::~FilterAnaSynt() { reset_param(); }

void FilterAnaSynt::reset_param() {
  TypeFilter = SB_UNKNOWN;
  Analysis = nullptr;
  Synthesis = nullptr;
  Size_Ana = Size_Synt = 0;
  Start_Ana = Start_Synt = 0;
  Verbose = False;
  FileName = nullptr;
  std::vector<float>().swap(user_analysis_);
  std::vector<float>().swap(user_synthesis_);
  file_name_.clear();
}

void FilterAnaSynt::set_file_name(const char* Name) {
  if (Name == nullptr) {
    FileName = nullptr;
    return;
  }
  std::string copy(Name);  // Name may point into file_name_ itself
  file_name_ = copy;
  FileName = &file_name_[0];
}

void FilterAnaSynt::alloc(type_sb_filter Type) {
  BuiltinTables& t = tables();
  NormL2 = 1;
  TypeFilter = Type;
  auto select = [this](std::vector<float>& ana, std::vector<float>& syn) {
    Analysis = ana.data();
    Size_Ana = static_cast<int>(ana.size());
    Synthesis = syn.data();
    Size_Synt = static_cast<int>(syn.size());
  };
  switch (Type) {
    case F_MALLAT_7_9: select(t.antonini_synthesis, t.antonini_analysis); break;
    case F_DAUBE_4: select(t.daub4, t.daub4); break;
    case U_HAAR_B3S: select(t.haar_analysis, t.haar2_synthesis); break;
    case U_HAAR_B3S2: select(t.haar_analysis, t.haar4_synthesis); break;
    case F_ODEGARD_9_7: select(t.odegard_analysis, t.odegard_synthesis); break;
    case F_5_3:
      select(t.f5_3_analysis, t.f5_3_synthesis);
      NormL2 = 0;
      break;
    case F_LEMARIE_1: select(t.lemarie1, t.lemarie1); break;
    case F_LEMARIE_3: select(t.lemarie3, t.lemarie3); break;
    case F_LEMARIE_5: select(t.lemarie5, t.lemarie5); break;
    case F_USER: {
      std::string name;
      if (FileName != nullptr) {
        name = FileName;
      } else if (UserFilterFileName != nullptr) {
        name = UserFilterFileName;
      } else if (std::FILE* probe = std::fopen("qz3.wvf", "r")) {
        std::fclose(probe);
        name = "qz3.wvf";
      } else if (const char* env = std::getenv("ZUB_FILTER")) {
        name = env;
      } else {
        fatal_exit("Error: the filter bank is not defined ... \n", -1, stdout);
      }
      set_file_name(name.c_str());
      read_from_file(FileName);
      break;
    }
    case F_HAAR: select(t.haar_coeffs, t.haar_coeffs); break;
    case F_3_5:
      select(t.f5_3_synthesis, t.f5_3_analysis);
      NormL2 = 0;
      break;
    case F_MALLAT_9_7: select(t.antonini_analysis, t.antonini_synthesis); break;
    default: fatal_exit("Error: unknown filter ... \n", -1, stderr);
  }
}

void FilterAnaSynt::read_from_file(const char* Name) {
  std::string given = Name != nullptr ? Name : "";
  std::string path = filtername(given.c_str());
  std::ifstream in(path);
  if (!in)
    fatal_exitf(-1, stdout, "Error: cannot open file %s ... or file doesn't exist\n",
                given.c_str());
  if (Verbose) std::printf("Read filters from file %s\n", given.c_str());

  FilterFileReader reader(in, path);
  double sum = 0., sum_squares = 0.;
  Start_Ana = reader.read_filter("analysis", user_analysis_, Verbose, true, &sum_squares, &sum);
  // The analysis taps decide the normalisation: whichever of the two
  // conditions (taps sum to 1, squares sum to 1) is closer wins, L2 on a tie.
  NormL2 = std::fabs(sum_squares - 1.) > std::fabs(sum - 1.) ? 0 : 1;
  if (Verbose) std::printf("  Sum_i H[i]^2 = %g\n", sum_squares);

  double syn_sum = 0., syn_squares = 0.;
  Start_Synt =
      reader.read_filter("synthesis", user_synthesis_, Verbose, false, &syn_squares, &syn_sum);
  if (Verbose) std::printf("  Sum_i H1[i]^2 = %g\n", syn_squares);

  Analysis = user_analysis_.data();
  Size_Ana = static_cast<int>(user_analysis_.size());
  Synthesis = user_synthesis_.data();
  Size_Synt = static_cast<int>(user_synthesis_.size());
}

const char* StringSBFilter(type_sb_filter Type) {
  switch (Type) {
    case F_MALLAT_7_9: return "Biorthogonal 7/9 filters";
    case F_DAUBE_4: return "Daubechies filter 4";
    case U_HAAR_B3S: return "Biorthogonal 2/6 Haar filters";
    case U_HAAR_B3S2: return "Biorthogonal 2/10 Haar filters";
    case F_ODEGARD_9_7: return "Odegard 9/7 filters";
    case F_5_3: return "5/3 filter";
    case F_LEMARIE_1: return "Battle-Lemarie filters (2 vanishing moments)";
    case F_LEMARIE_3: return "Battle-Lemarie filters (4 vanishing moments)";
    case F_LEMARIE_5: return "Battle-Lemarie filters (6 vanishing moments)";
    case F_USER: return "User's filters";
    case F_HAAR: return "Haar filter";
    case F_3_5: return "3/5 filter";
    case F_MALLAT_9_7: return "Biorthogonal 9/7 filter";
    default: return "Undefined sub-band filters";
  }
}

void sb_usage(type_sb_filter Default) {
  std::fprintf(stderr, "         [-T type_of_filters]\n");
  for (int i = 1; i <= 12; i++)
    std::fprintf(stderr, "              %d: %s \n", i, StringSBFilter(type_sb_filter(i)));
  std::fprintf(stderr, "             default is %s\n\n", StringSBFilter(Default));
  std::fprintf(stderr, "         [-L]\n");
  std::fprintf(stderr, "              Use a L2 normalization. Default is L1.\n");
}

type_sb_filter get_filter_bank(const char* Arg) {
  const char* text = Arg != nullptr ? Arg : "";
  // "type[,file]": a leading integer, then optionally a comma and a name:
  // the next run of characters other than white space.
  errno = 0;
  char* end = nullptr;
  long type = std::strtol(text, &end, 10);
  if (end == text || errno == ERANGE || type < 1 || type > 12)
    fatal_exitf(-1, stderr, "bad type of filter: %s\n", text);
  if (*end == ',') {
    const char* name = end + 1;
    name += std::strspn(name, " \t\n\r\f\v");
    size_t len = std::strcspn(name, " \t\n\r\f\v");
    if (len > 0) {
      user_filter_file_store.assign(name, len);
      UserFilterFileName = &user_filter_file_store[0];
    }
  }
  return type_sb_filter(type);
}

std::string filtername(const char* Name) {
  std::string name = Name != nullptr ? Name : "";
  if (name.find(".wvf") != std::string::npos) return name;
  return name + ".wvf";
}

void filter_complement(const float* H, float* G, int N, int Sign) {
  int sign = Sign;
  for (int k = 0; k < N; k++) {
    G[N - 1 - k] = float(sign) * H[k];
    sign = -sign;
  }
}

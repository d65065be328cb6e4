// Option globals of qz_mca, their parser and the help text.
#include "mca/mca_options.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "array/fatal.h"
#include "array/getopt.h"
#include "array/vms.h"
#include "io/image_names.h"
#include "mca/mca_base_family.h"

std::string Name_Imag_In;
std::string Name_Imag_Out;
std::string CommandLine;

int TabBase[NBR_SELECTABLE_BASES];
type_mcabase TabSelect[MAX_MCA_BASES];
int NbrBase = 0;

// The option globals take their initial values from the option table below,
// at start-up and on every reset_mca_options().
int NbrScale2D, BlockSize, Nbr_Iter, CosBlockSize;
float FirstSoftThreshold, LastSoftThreshold;
int UseNormL1, T_Decreasing, RemoveLastScale;
float Noise_Ima;
int BlockOverlap, PositivSol;
float LambdaTV;
int TV, TV_NbrScale2D, UseMask, UseZoom, Verbose, KillLastScale, UseMad, COS_WeightFirst;
float COS_Min, CorrelConstraint;
int DWT_NbrAngle, WT_NbrUndecimatedScale, WP_NbrUndecimatedScale, WriteAll, TestMode;
int UseVMSOption, VMSSize;
std::string VMSDir;

int ZoomFactor = 4;
int RidTrans = 2;
int FirstDetectScale = 0;
float COS_Sensibility = 1.0f;
int CosIsotrop = 0;

namespace {

// The arguments of the run, for the help that a refused -g prints.
char** RunArgv = nullptr;

// Largest scale count the option accepts.
constexpr int MaxNbrScale = 10;

// Whether -n was given: an explicit count too large for the image is
// refused, the default one is lowered to what the image holds.
bool ScaleCountGiven = false;

[[noreturn]] void option_error(const char* format, const char* arg) {
  fatal_exitf(-1, stdout, format, arg);
}

// The whole argument must be one number that its type can hold: "1e12" or
// "99999999999" is no iteration count, and NaN or infinity no level.
bool read_int(const char* arg, int& value) {
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(arg, &end, 10);
  if (end == arg || *end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
  value = static_cast<int>(v);
  return true;
}
bool read_float(const char* arg, float& value) {
  errno = 0;
  char* end = nullptr;
  const float v = std::strtof(arg, &end);
  if (end == arg || *end != '\0' || errno == ERANGE || !std::isfinite(v)) return false;
  value = v;
  return true;
}

void select_base(const char* arg) {
  int n;
  if (!read_int(arg, n) || n < 1 || n > NBR_SELECTABLE_BASES)
    option_error("Error: bad type of transform: %s\n", arg);
  if (TabBase[n - 1] != 0) option_error("Error: transform already selected: %s\n", arg);
  if (NbrBase >= MAX_MCA_BASES)
    fatal_exitf(-1, stdout, "Error: too many transforms selected (at most %d): %s\n",
                MAX_MCA_BASES, arg);
  type_mcabase base = static_cast<type_mcabase>(n - 1);
  TabBase[n - 1] = 1;
  TabSelect[NbrBase++] = base;
}

void read_scale_count(const char* arg) {
  if (!read_int(arg, NbrScale2D)) option_error("bad number of scales: %s\n", arg);
  ScaleCountGiven = true;
  if (NbrScale2D > MaxNbrScale) {
    std::printf("bad number of scales: %s\n", arg);
    fatal_exitf(-1, stdout, " Nbr Scales <= %d\n", MaxNbrScale);
  }
}

// -l toggles the removal of the coarsest scale; positivity is then off.
void remove_last_scale(const char*) {
  RemoveLastScale = RemoveLastScale == 0 ? 1 : 0;
  PositivSol = 0;
}

// -G weight[,scales]: the total-variation weight and its Haar scale count.
void read_tv(const char* arg) {
  float weight;
  int nbr_scale;
  const int nread = std::sscanf(arg, "%f,%d", &weight, &nbr_scale);
  if (nread < 1) option_error("bad regul param: %s\n", arg);
  if (!(weight >= 0.f) || !std::isfinite(weight))
    option_error("Error: bad TV regul param: %s\n", arg);
  if (nread == 2 && nbr_scale < 2) option_error("Error: bad number of TV scales: %s\n", arg);
  LambdaTV = weight;
  TV = 1;
  if (nread == 2) TV_NbrScale2D = nbr_scale;
}

void use_default_vms(const char*) {
  if (UseVMSOption) fatal_exit("Error: Z option already set...\n");
  UseVMSOption = 1;
  VMSSize = -1;
  VMSDir.clear();
}

// -Z Size:Directory; the directory is the word after the colon.
void read_vms_option(const char* arg) {
  if (UseVMSOption) fatal_exit("Error: z option already set...\n");
  int size, consumed = 0;
  if (std::sscanf(arg, "%d%n", &size, &consumed) != 1)
    fatal_exit("Error: syntaxe is Size:Directory ... \n");
  VMSSize = size;
  VMSDir.clear();
  const char* rest = arg + consumed;
  if (*rest == ':') {
    rest++;
    while (*rest == ' ' || *rest == '\t') rest++;
    while (*rest != '\0' && *rest != ' ' && *rest != '\t') VMSDir += *rest++;
  }
  // Swap files in another directory than the one asked for would fill a
  // disk the user did not choose.
  if (VMSDir.size() >= sizeof(emem_tmpdirname))
    fatal_exitf(-1, stdout,
                "Error: the swap directory name has %zu characters (at most %zu) ...\n",
                VMSDir.size(), sizeof(emem_tmpdirname) - 1);
  UseVMSOption = 1;
}

void set_verbose(const char*) { Verbose = 1; }

void help_bases() {
  std::printf("         [-t TransformSelection]\n");
  for (int b = 0; b < 8; b++)
    std::printf("              %d: %s \n", b + 1, StringMCABase(static_cast<type_mcabase>(b)));
  manline();
}

// One row per option: its letter, how it reads its argument, the global it
// sets with its initial value, the message of a refused value, the help
// lines, and the general MCA field it is copied into. Rows with no letter
// are globals that another option sets; rows with no help are options the
// help does not list. The help prints in the table's order; a help function
// ends with its own blank line.
enum class Kind { Set, Toggle, Int, Float, Special, Global };

struct Option {
  char letter;
  Kind kind;
  bool argument;          // the letter takes an argument
  int* int_value;
  float* float_value;
  double initial;
  double set_to;          // Set: the value the letter gives
  double lowest;          // Int, Float: smallest accepted value
  const char* message;    // Int, Float: printf format of a refused argument
  void (*special)(const char* arg);
  const char* help;       // printf format; may show the global's current value
  void (*help_function)();
  int MCA::*mca_int;
  float MCA::*mca_float;
};

constexpr double Any = -1e300;

constexpr Option set(char letter, int* value, int initial, int set_to, const char* help = nullptr,
                     int MCA::*field = nullptr) {
  return {letter, Kind::Set, false, value, nullptr, double(initial), double(set_to), Any, nullptr,
          nullptr, help, nullptr, field, nullptr};
}
constexpr Option toggle(char letter, int* value, int initial, const char* help = nullptr,
                        int MCA::*field = nullptr) {
  return {letter, Kind::Toggle, false, value, nullptr, double(initial), 0, Any, nullptr,
          nullptr, help, nullptr, field, nullptr};
}
constexpr Option integer(char letter, int* value, int initial, double lowest, const char* message,
                         const char* help = nullptr, int MCA::*field = nullptr) {
  return {letter, Kind::Int, true, value, nullptr, double(initial), 0, lowest, message,
          nullptr, help, nullptr, field, nullptr};
}
constexpr Option real(char letter, float* value, float initial, double lowest,
                      const char* message, const char* help = nullptr,
                      float MCA::*field = nullptr) {
  return {letter, Kind::Float, true, nullptr, value, double(initial), 0, lowest, message,
          nullptr, help, nullptr, nullptr, field};
}
constexpr Option special(char letter, bool argument, void (*handler)(const char*), int* value,
                         int initial, const char* help = nullptr,
                         void (*help_function)() = nullptr, int MCA::*field = nullptr) {
  return {letter, Kind::Special, argument, value, nullptr, double(initial), 0, Any, nullptr,
          handler, help, help_function, field, nullptr};
}
constexpr Option special_real(char letter, void (*handler)(const char*), float* value,
                              float initial, const char* help, float MCA::*field) {
  return {letter, Kind::Special, true, nullptr, value, double(initial), 0, Any, nullptr,
          handler, help, nullptr, nullptr, field};
}
constexpr Option global(int* value, int initial, int MCA::*field = nullptr) {
  return {'\0', Kind::Global, false, value, nullptr, double(initial), 0, Any, nullptr,
          nullptr, nullptr, nullptr, field, nullptr};
}

// -g: a negative deviation would turn every threshold upside down; the help
// follows the message.
void read_noise(const char* arg);

const Option Options[] = {
    special('t', true, select_base, nullptr, 0, nullptr, help_bases),
    special('n', true, read_scale_count, &NbrScale2D, 5,
            "         [-n number_of_scales]\n"
            "             Number of scales used in the WT, the a trous, the PMT and the curvelet transform.\n"
            "             default is 5.\n"),
    integer('b', &BlockSize, 0, Any, "bad block size: %s\n",
            "         [-b BlockSize]\n"
            "             Block Size in the ridgelet transform.\n"
            "             Default is image size. \n"),
    integer('i', &Nbr_Iter, 1000, 1, "bad number of iterations: %s\n",
            "         [-i NbrIter]\n"
            "             Number of iteration. Default is %d.\n",
            &MCA::Nbr_Iter),
    // Zero or less keeps the base's default block.
    integer('B', &CosBlockSize, 0, Any, "bad cosinus transform block size: %s\n",
            "         [-B DCT_BlockSize]\n"
            "             Local DCT block size.\n"
            "             By default, a global DCT is used. \n"),
    real('S', &FirstSoftThreshold, -1.f, 0, "Error: bad first soft threshold: %s\n",
         "         [-S FirstThresholdLevel]\n"
         "            First thresholding value.\n"
         "            Default is derived from the data.\n",
         &MCA::FirstSoftThreshold),
    real('s', &LastSoftThreshold, 3.0f, 0, "Error: bad last soft threshold: %s\n",
         "         [-s LastThresholdLevel]\n"
         "            Last thresholding value..\n"
         "            default is %f.\n",
         &MCA::LastSoftThreshold),
    toggle('N', &UseNormL1, 0,
           "         [-N]\n"
           "             Minimize the L1 norm.\n"
           "             Default is L0 norm.\n",
           &MCA::UseNormL1),
    set('L', &T_Decreasing, 2, 0,
        "         [-L]\n"
        "             Replacing the MOM descent by a linear descent.\n"),
    special('l', false, remove_last_scale, &RemoveLastScale, 0,
            "         [-l]\n"
            "             Remove last scale. Default is no. \n",
            nullptr, &MCA::RemoveLastScale),
    special_real('g', read_noise, &Noise_Ima, 0.5f,
                 "         [-g sigma]\n"
                 "             sigma = noise standard deviation. \n"
                 "             Default is 0.5 (quantification noise).\n"
                 "             if sigma is set to 0, noise standard deviation\n"
                 "             is automatically estimated.\n",
                 &MCA::Noise_Ima),
    toggle('O', &BlockOverlap, 1,
           "         [-O]\n"
           "             Supress the block overlapping. Default is no. \n"),
    set('P', &PositivSol, 1, 0,
        "         [-P]\n"
        "             Supress the positivity constraint. Default is no. \n",
        &MCA::PositivSol),
    special_real('G', read_tv, &LambdaTV, 0.f,
                 "         [-G RegulVal[,NbrScale]]\n"
                 "             Total Variation regularization term. Default is 0.\n"
                 "             NbrScale = number of scales used in Haar TV regularizarion. \n"
                 "                        default is 2. \n",
                 &MCA::LambdaTV),
    set('H', &UseMask, 0, 1,
        "         [-H]\n"
        "             Data contained masked area (must have a zero value). Default is no. \n",
        &MCA::UseMask),
    set('I', &UseZoom, 0, 1,
        "         [-I]\n"
        "             Interpolate the data (super-resolution). Default is no. \n",
        &MCA::UseZoom),
    special('z', false, use_default_vms, &UseVMSOption, 0, nullptr, vm_usage),
    special('Z', true, read_vms_option, &VMSSize, -1),
    special('v', false, set_verbose, &Verbose, 0, nullptr, verbose_usage, &MCA::Verbose),
    set('K', &KillLastScale, 0, 1),
    set('M', &UseMad, 0, 1, nullptr, &MCA::UseMad),
    toggle('W', &COS_WeightFirst, 0),
    real('C', &COS_Min, 0.f, Any, "bad cosinus sensibility: %s\n"),
    real('c', &CorrelConstraint, 0.f, Any, "bad correlation constraint parameter: %s\n"),
    integer('a', &DWT_NbrAngle, 10, 1, "bad number of angles: %s\n"),
    integer('u', &WT_NbrUndecimatedScale, -1, 0, "Error: bad scale number: %s\n"),
    integer('U', &WP_NbrUndecimatedScale, 2, 0, "Error: bad scale number: %s\n"),
    set('w', &WriteAll, 0, 1, nullptr, &MCA::WriteAll),
    set('X', &TestMode, 0, 1),
    global(&TV, 0, &MCA::TV),
    global(&TV_NbrScale2D, 2, &MCA::TV_NbrScale2D),
};

// Any level a float holds is taken, subnormal ones too (below 1.2e-38,
// which strtof reports as an underflow); a level that rounds to 0 is no
// level, and 0 itself asks for an estimate.
bool read_noise_level(const char* arg, float& level) {
  if (read_float(arg, level)) return true;
  errno = 0;
  char* end = nullptr;
  const float v = std::strtof(arg, &end);
  if (end == arg || *end != '\0' || !std::isfinite(v) || v == 0.f) return false;
  level = v;
  return true;
}

void read_noise(const char* arg) {
  if (!read_noise_level(arg, Noise_Ima) || Noise_Ima < 0.f) {
    std::printf("bad sigma noise: %s\n", arg);
    usage(RunArgv);
  }
}

// The letters GetOpt accepts, each followed by ':' when it takes an argument.
std::string option_letters() {
  std::string letters;
  for (const Option& o : Options) {
    if (o.letter == '\0') continue;
    letters += o.letter;
    if (o.argument) letters += ':';
  }
  return letters;
}

const Option* find_option(int letter) {
  for (const Option& o : Options)
    if (o.letter != '\0' && o.letter == letter) return &o;
  return nullptr;
}

void apply(const Option& o, const char* arg) {
  switch (o.kind) {
    case Kind::Set: *o.int_value = static_cast<int>(o.set_to); break;
    case Kind::Toggle: *o.int_value = *o.int_value == 0 ? 1 : 0; break;
    case Kind::Int: {
      int value;
      if (!read_int(arg, value) || value < o.lowest) option_error(o.message, arg);
      *o.int_value = value;
      break;
    }
    case Kind::Float: {
      float value;
      if (!read_float(arg, value) || value < o.lowest) option_error(o.message, arg);
      *o.float_value = value;
      break;
    }
    case Kind::Special: o.special(arg); break;
    case Kind::Global: break;
  }
}

bool initialise_options() {
  reset_mca_options();
  return true;
}
const bool OptionsInitialised = initialise_options();

}  // namespace

void reset_mca_options() {
  Name_Imag_In.clear();
  Name_Imag_Out.clear();
  for (int& selected : TabBase) selected = 0;
  for (auto& base : TabSelect) base = MCA_ATROU;
  NbrBase = 0;
  for (const Option& o : Options) {
    if (o.int_value != nullptr) *o.int_value = static_cast<int>(o.initial);
    if (o.float_value != nullptr) *o.float_value = static_cast<float>(o.initial);
  }
  VMSDir.clear();
  ScaleCountGiven = false;
  OptInd = 1;
}

bool scale_count_given() { return ScaleCountGiven; }

int run_schedule() {
  // The MOM schedule compares bases; with one base it has nothing to compare.
  return T_Decreasing == 2 && NbrBase == 1 ? 0 : T_Decreasing;
}

void mca_configure(MCA& mca) {
  for (const Option& o : Options) {
    if (o.mca_int != nullptr) mca.*o.mca_int = *o.int_value;
    if (o.mca_float != nullptr) mca.*o.mca_float = *o.float_value;
  }
  mca.NbrBase = NbrBase;
  for (int b = 0; b < NbrBase; b++) mca.TabSelect[b] = TabSelect[b];
  if (CorrelConstraint > 0) {
    mca.CorrelConstraint = CorrelConstraint;
    mca.UseCorrel = 1;
  }
  mca.ZoomFactor = ZoomFactor;
  mca.T_Decreasing = run_schedule();
  for (int b = 0; b < NBR_MCA_BASES; b++)
    mca_base_family(static_cast<type_mcabase>(b)).configure(mca);
}

void build_command_line(int argc, char* argv[]) {
  CommandLine.clear();
  for (int k = 0; k < argc; k++) {
    CommandLine += ' ';
    CommandLine += argv[k];
  }
}

void manline() { std::printf("\n"); }

void vm_usage() {
  std::printf("         [-z]\n");
  std::printf("             Use virtual memory.\n");
  std::printf("                default limit size: %d\n", emem_ramlimit);
  std::printf("                default directory: %s\n", emem_tmpdirname);
  manline();
  std::printf("         [-Z VMSize:VMDIR]\n");
  std::printf("             Use virtual memory.\n");
  std::printf("                VMSize = limit size (megabytes) \n");
  std::printf("                VMDIR = directory name \n");
  manline();
}

void verbose_usage() {
  std::printf("         [-v]\n");
  std::printf("             Verbose. Default is no.\n");
  manline();
}

void usage(char* argv[]) {
  std::printf("Usage: %s options in_image result\n\n", argv[0]);
  std::printf("   where options =  \n");
  for (const Option& o : Options) {
    if (o.help_function != nullptr) {
      o.help_function();
      continue;
    } else if (o.help == nullptr) {
      continue;
    } else if (o.int_value != nullptr) {
      std::printf(o.help, *o.int_value);
    } else if (o.float_value != nullptr) {
      std::printf(o.help, static_cast<double>(*o.float_value));
    } else {
      std::printf("%s", o.help);
    }
    manline();
  }
  manline();
  fatal_exit("", -1);
}

// A word the scanner took for options that rather names a file: one that
// is there, or that holds a '.' or a '[' ("-.fits[1]", the standard input
// with a selector), which no group of option letters holds.
bool looks_like_a_name(const char* word) {
  return std::strpbrk(word, ".[") != nullptr || access(word, F_OK) == 0;
}

// After "--" a word whose stem is "-" ("-.fits", "-b.fits[1]") is still the
// standard input: a file of that name, selector aside, is reached only
// through its folder.
void advise_name(const char* program, const char* word) {
  const std::string file(word, std::strcspn(word, "["));
  if (std_inout(word) && access(file.c_str(), F_OK) == 0)
    std::fprintf(stderr, "%s: after '--' the name %s is the standard input; name the file as in './%s'\n",
                 program, word, word);
  else
    std::fprintf(stderr, "%s: a name that begins with '-' follows '--', as in -- '%s'\n", program, word);
}

void filtinit(int argc, char* argv[]) {
  RunArgv = argv;
  const std::string letters = option_letters();
  int c;
  for (int word = OptInd; (c = GetOpt(argc, argv, letters.c_str())) != -1; word = OptInd) {
    const Option* option = find_option(c);
    if (option == nullptr) {
      const bool unknown = OptOpt == ':' || letters.find(static_cast<char>(OptOpt)) == std::string::npos;
      if (unknown && word < argc && looks_like_a_name(argv[word])) advise_name(argv[0], argv[word]);
      usage(argv);
    }
    apply(*option, OptArg);
  }

  if (OptInd < argc) Name_Imag_In = argv[OptInd++];
  else usage(argv);
  if (OptInd < argc) {
    Name_Imag_Out = argv[OptInd++];
  } else {
    std::printf("Error: the result name is missing: give it after the input image ... (%s)\n",
                Name_Imag_In.c_str());
    usage(argv);
  }
  if (OptInd < argc) fatal_exitf(-1, stdout, "Too many parameters: %s ...\n", argv[OptInd]);

  if (UseVMSOption) vms_init(VMSSize, VMSDir.c_str(), Verbose ? True : False);
}

// Option globals of qz_mca, their parser and the help text.
#include "mca/mca_options.h"

#include <cstdio>
#include <cstring>

#include "array/fatal.h"
#include "array/getopt.h"
#include "array/vms.h"

std::string Name_Imag_In;
std::string Name_Imag_Out;
std::string CommandLine;

int TabBase[NBR_SELECTABLE_BASES];
type_mcabase TabSelect[MAX_MCA_BASES];
int NbrBase = 0;

int NbrScale2D = 5;
int BlockSize = 0;
int Nbr_Iter = 1000;
int CosBlockSize = 0;
float FirstSoftThreshold = -1.f;
float LastSoftThreshold = 3.0f;
int UseNormL1 = 0;
int T_Decreasing = 2;
int RemoveLastScale = 0;
float Noise_Ima = 0.5f;
int BlockOverlap = 1;
int PositivSol = 1;
float LambdaTV = 0.f;
int TV = 0;
int TV_NbrScale2D = 2;
int UseMask = 0;
int UseZoom = 0;
int Verbose = 0;
int KillLastScale = 0;
int UseMad = 0;
int COS_WeightFirst = 0;
float COS_Min = 0.f;
float CorrelConstraint = 0.f;
int DWT_NbrAngle = 10;
int WT_NbrUndecimatedScale = -1;
int WP_NbrUndecimatedScale = 2;
int WriteAll = 0;
int TestMode = 0;
int UseVMSOption = 0;
int VMSSize = -1;
std::string VMSDir;

int ZoomFactor = 4;
int RidTrans = 2;
int FirstDetectScale = 0;
float COS_Sensibility = 1.0f;
int CosIsotrop = 0;

namespace {

const char OptionLetters[] = "c:lHMNIWLC:B:Xa:PG:s:S:wu:U:t:KOi:b:g:n:vzZ:";

// Largest scale count the option accepts.
constexpr int MaxNbrScale = 10;

void toggle(int& flag) { flag = flag == 0 ? 1 : 0; }

[[noreturn]] void option_error(const char* format, const char* arg) {
  fatal_exitf(-1, stdout, format, arg);
}

// The whole argument must be one number ("%d" / "%f" read at least it).
bool read_int(const char* arg, int& value) { return std::sscanf(arg, "%d", &value) == 1; }
bool read_float(const char* arg, float& value) { return std::sscanf(arg, "%f", &value) == 1; }

void select_base(const char* arg) {
  int n;
  if (!read_int(arg, n) || n < 1 || n > NBR_SELECTABLE_BASES)
    option_error("Error: bad type of transform: %s\n", arg);
  if (TabBase[n - 1] != 0) option_error("Error: transform already selected: %s\n", arg);
  if (NbrBase >= MAX_MCA_BASES)
    fatal_exitf(-1, stdout, "Error: too many transforms selected (at most %d): %s\n",
                MAX_MCA_BASES, arg);
  type_mcabase base = static_cast<type_mcabase>(n - 1);
  if (!mca_base_available(base))
    fatal_exitf(-1, stdout, "Error: transform not available in this version: %s (%s)\n", arg,
                StringMCABase(base));
  TabBase[n - 1] = 1;
  TabSelect[NbrBase++] = base;
}

// -Z Size:Directory; the directory is the word after the colon.
void read_vms_option(const char* arg) {
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
}

}  // namespace

void reset_mca_options() {
  Name_Imag_In.clear();
  Name_Imag_Out.clear();
  for (int& selected : TabBase) selected = 0;
  for (auto& base : TabSelect) base = MCA_ATROU;
  NbrBase = 0;
  NbrScale2D = 5;
  BlockSize = 0;
  Nbr_Iter = 1000;
  CosBlockSize = 0;
  FirstSoftThreshold = -1.f;
  LastSoftThreshold = 3.0f;
  UseNormL1 = 0;
  T_Decreasing = 2;
  RemoveLastScale = 0;
  Noise_Ima = 0.5f;
  BlockOverlap = 1;
  PositivSol = 1;
  LambdaTV = 0.f;
  TV = 0;
  TV_NbrScale2D = 2;
  UseMask = 0;
  UseZoom = 0;
  Verbose = 0;
  KillLastScale = 0;
  UseMad = 0;
  COS_WeightFirst = 0;
  COS_Min = 0.f;
  CorrelConstraint = 0.f;
  DWT_NbrAngle = 10;
  WT_NbrUndecimatedScale = -1;
  WP_NbrUndecimatedScale = 2;
  WriteAll = 0;
  TestMode = 0;
  UseVMSOption = 0;
  VMSSize = -1;
  VMSDir.clear();
  OptInd = 1;
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
  std::printf("         [-t TransformSelection]\n");
  for (int b = 0; b < 8; b++)
    std::printf("              %d: %s \n", b + 1, StringMCABase(static_cast<type_mcabase>(b)));
  manline();
  std::printf("         [-n number_of_scales]\n");
  std::printf("             Number of scales used in the WT, the a trous, the PMT and the curvelet transform.\n");
  std::printf("             default is 5.\n");
  manline();
  std::printf("         [-b BlockSize]\n");
  std::printf("             Block Size in the ridgelet transform.\n");
  std::printf("             Default is image size. \n");
  manline();
  std::printf("         [-i NbrIter]\n");
  std::printf("             Number of iteration. Default is %d.\n", Nbr_Iter);
  manline();
  std::printf("         [-B DCT_BlockSize]\n");
  std::printf("             Local DCT block size.\n");
  std::printf("             By default, a global DCT is used. \n");
  manline();
  std::printf("         [-S FirstThresholdLevel]\n");
  std::printf("            First thresholding value.\n");
  std::printf("            Default is derived from the data.\n");
  manline();
  std::printf("         [-s LastThresholdLevel]\n");
  std::printf("            Last thresholding value..\n");
  std::printf("            default is %f.\n", LastSoftThreshold);
  manline();
  std::printf("         [-N]\n");
  std::printf("             Minimize the L1 norm.\n");
  std::printf("             Default is L0 norm.\n");
  manline();
  std::printf("         [-L]\n");
  std::printf("             Replacing the MOM descent by a linear descent.\n");
  manline();
  std::printf("         [-l]\n");
  std::printf("             Remove last scale. Default is no. \n");
  manline();
  std::printf("         [-g sigma]\n");
  std::printf("             sigma = noise standard deviation. \n");
  std::printf("             Default is 0.5 (quantification noise).\n");
  std::printf("             if sigma is set to 0, noise standard deviation\n");
  std::printf("             is automatically estimated.\n");
  manline();
  std::printf("         [-O]\n");
  std::printf("             Supress the block overlapping. Default is no. \n");
  manline();
  std::printf("         [-P]\n");
  std::printf("             Supress the positivity constraint. Default is no. \n");
  manline();
  std::printf("         [-G RegulVal[,NbrScale]]\n");
  std::printf("             Total Variation regularization term. Default is 0.\n");
  std::printf("             NbrScale = number of scales used in Haar TV regularizarion. \n");
  std::printf("                        default is 2. \n");
  manline();
  std::printf("         [-H]\n");
  std::printf("             Data contained masked area (must have a zero value). Default is no. \n");
  manline();
  std::printf("         [-I]\n");
  std::printf("             Interpolate the data (super-resolution). Default is no. \n");
  manline();
  vm_usage();
  verbose_usage();
  manline();
  fatal_exit("", -1);
}

void filtinit(int argc, char* argv[]) {
  int c;
  while ((c = GetOpt(argc, argv, OptionLetters)) != -1) {
    switch (c) {
      case 't': select_base(OptArg); break;
      case 'n':
        if (!read_int(OptArg, NbrScale2D)) option_error("bad number of scales: %s\n", OptArg);
        if (NbrScale2D > MaxNbrScale) {
          std::printf("bad number of scales: %s\n", OptArg);
          fatal_exitf(-1, stdout, " Nbr Scales <= %d\n", MaxNbrScale);
        }
        break;
      case 'b':
        if (!read_int(OptArg, BlockSize)) option_error("bad block size: %s\n", OptArg);
        break;
      case 'i':
        if (!read_int(OptArg, Nbr_Iter)) option_error("bad number of iterations: %s\n", OptArg);
        break;
      case 'B':
        // Zero or less keeps the base's default block; the local DCT itself
        // shrinks a block larger than the image and refuses other sizes.
        if (!read_int(OptArg, CosBlockSize))
          option_error("bad cosinus transform block size: %s\n", OptArg);
        break;
      case 'S':
        if (!read_float(OptArg, FirstSoftThreshold) || FirstSoftThreshold < 0.f)
          option_error("Error: bad first soft threshold: %s\n", OptArg);
        break;
      case 's':
        if (!read_float(OptArg, LastSoftThreshold) || LastSoftThreshold < 0.f)
          option_error("Error: bad last soft threshold: %s\n", OptArg);
        break;
      case 'N': toggle(UseNormL1); break;
      case 'L': T_Decreasing = 0; break;
      case 'l':
        toggle(RemoveLastScale);
        PositivSol = 0;
        break;
      case 'g':
        // A negative deviation would turn every threshold upside down.
        if (!read_float(OptArg, Noise_Ima) || Noise_Ima < 0.f) {
          std::printf("bad sigma noise: %s\n", OptArg);
          usage(argv);
        }
        break;
      case 'O': toggle(BlockOverlap); break;
      case 'P': PositivSol = 0; break;
      case 'G': {
        float weight;
        int nbr_scale;
        int nread = std::sscanf(OptArg, "%f,%d", &weight, &nbr_scale);
        if (nread < 1) option_error("bad regul param: %s\n", OptArg);
        if (weight < 0.f) option_error("Error: bad TV regul param: %s\n", OptArg);
        if (nread == 2 && nbr_scale < 2) option_error("Error: bad number of TV scales: %s\n", OptArg);
        LambdaTV = weight;
        TV = 1;
        if (nread == 2) TV_NbrScale2D = nbr_scale;
        break;
      }
      case 'H': UseMask = 1; break;
      case 'I': UseZoom = 1; break;
      case 'z':
        if (UseVMSOption) fatal_exit("Error: Z option already set...\n");
        UseVMSOption = 1;
        VMSSize = -1;
        VMSDir.clear();
        break;
      case 'Z':
        if (UseVMSOption) fatal_exit("Error: z option already set...\n");
        read_vms_option(OptArg);
        UseVMSOption = 1;
        break;
      case 'v': Verbose = 1; break;
      case 'K': KillLastScale = 1; break;
      case 'M': UseMad = 1; break;
      case 'W': toggle(COS_WeightFirst); break;
      case 'C':
        if (!read_float(OptArg, COS_Min)) option_error("bad cosinus sensibility: %s\n", OptArg);
        break;
      case 'c':
        if (!read_float(OptArg, CorrelConstraint))
          option_error("bad correlation constraint parameter: %s\n", OptArg);
        break;
      case 'a':
        if (!read_int(OptArg, DWT_NbrAngle)) option_error("bad number of angles: %s\n", OptArg);
        break;
      case 'u':
        if (!read_int(OptArg, WT_NbrUndecimatedScale) || WT_NbrUndecimatedScale < 0)
          option_error("Error: bad scale number: %s\n", OptArg);
        break;
      case 'U':
        if (!read_int(OptArg, WP_NbrUndecimatedScale) || WP_NbrUndecimatedScale < 0)
          option_error("Error: bad scale number: %s\n", OptArg);
        break;
      case 'w': WriteAll = 1; break;
      case 'X': TestMode = 1; break;
      default: usage(argv);
    }
  }

  if (OptInd < argc) Name_Imag_In = argv[OptInd++];
  else usage(argv);
  if (OptInd < argc) Name_Imag_Out = argv[OptInd++];
  else usage(argv);
  if (OptInd < argc) fatal_exitf(-1, stdout, "Too many parameters: %s ...\n", argv[OptInd]);

  if (UseVMSOption) vms_init(VMSSize, VMSDir.c_str(), Verbose ? True : False);
}

// Command line of qz_mca: the option globals with their initial values, the
// parser that fills them, and the help text.
#pragma once

#include <string>

#include "mca/mca.h"

// The two names of the run and the joined command line (origin text of
// every header written).
extern std::string Name_Imag_In;
extern std::string Name_Imag_Out;
extern std::string CommandLine;

// Bases: TabBase[n] is 1 once -t n+1 was given; TabSelect/NbrBase in order.
constexpr int NBR_SELECTABLE_BASES = 9;
extern int TabBase[NBR_SELECTABLE_BASES];
extern type_mcabase TabSelect[MAX_MCA_BASES];
extern int NbrBase;

extern int NbrScale2D;
extern int BlockSize;
extern int Nbr_Iter;
extern int CosBlockSize;
extern float FirstSoftThreshold;
extern float LastSoftThreshold;
extern int UseNormL1;
extern int T_Decreasing;
extern int RemoveLastScale;
extern float Noise_Ima;
extern int BlockOverlap;
extern int PositivSol;
extern float LambdaTV;
extern int TV;
extern int TV_NbrScale2D;
extern int UseMask;
extern int UseZoom;
extern int Verbose;
extern int KillLastScale;
extern int UseMad;
extern int COS_WeightFirst;
extern float COS_Min;
extern float CorrelConstraint;
extern int DWT_NbrAngle;
extern int WT_NbrUndecimatedScale;
extern int WP_NbrUndecimatedScale;
extern int WriteAll;
extern int TestMode;
// Swap-file memory requested with -z or -Z, its size and directory.
extern int UseVMSOption;
extern int VMSSize;
extern std::string VMSDir;

// Globals that no option changes.
extern int ZoomFactor;
extern int RidTrans;
extern int FirstDetectScale;
extern float COS_Sensibility;
extern int CosIsotrop;

// -g 0 asks for the noise level to be estimated; any positive level is
// used as given, however small the image's units.
constexpr float NoiseNotGiven = 0.f;

// Joins the arguments, each after one blank, into CommandLine.
void build_command_line(int argc, char* argv[]);
// Parses the options and the two names; on any error prints its message
// and ends the process with status -1.
void filtinit(int argc, char* argv[]);
// Prints the help text and ends the process with status -1.
[[noreturn]] void usage(char* argv[]);
void manline();
void vm_usage();
void verbose_usage();

// Back to the initial values, OptInd included (for a second parse).
void reset_mca_options();

// Whether the scale count was given with -n rather than left at its default.
bool scale_count_given();

// The threshold schedule the run follows (T_Decreasing's values): the MOM
// schedule becomes linear when one base is selected.
int run_schedule();

// The option globals into the MCA: the general fields from the option
// table, then every base's own fields through its descriptor.
void mca_configure(MCA& mca);

// The FITS header record that travels with an image from its read to every
// write, the 80-column cards and 2880-byte blocks it owns, the HISTORY and
// COMMENT texts, and the release record whose banner every written header
// carries. The cards are parsed and written by our own code; the pixel data
// live in io/fits_io.h.
#pragma once

#include <cstdio>
#include <string>

#include "io/image_names.h"

constexpr int FITS_CARD = 80;         // bytes per card, no line end
constexpr int FITS_BLOCK = 2880;      // bytes per header or data block
constexpr int FITS_CARDS_PER_BLOCK = FITS_BLOCK / FITS_CARD;
constexpr int FITS_HIST_PIECE = 72;   // text bytes of one HISTORY/COMMENT card

// Kind of a card value.
enum h_type { H_INT = 0, H_FLOAT = 1, H_EXPO = 2, H_BOOL = 3, H_STRING = 4, H_COMMENT = 5 };

// Release record; its banner goes into the HISTORY of every header written.
class softinfo {
 public:
  float release;
  char name[256];
  char banner_text[256];

  softinfo();
  void soft_init();
  void qz3();
  const char* banner() const { return banner_text; }
};
extern softinfo Soft;

// The header record. Pointers marked owned are malloc'ed and released by the
// destructor; copies are deep.
class fitsstruct {
 public:
  char* filename;        // owned
  const char* origin;    // caller's history text (the command line), not owned
  char rident[512];      // second history text, added at every write
  std::FILE* stream;     // during one read or write, not owned
  char* fitshead;        // owned card buffer, whole blocks, holds an END card
  int fitsheadsize;
  int bitpix;
  int bytepix;
  int width;             // NAXIS1, columns
  int height;            // NAXIS2, lines
  int npix;
  double bscale;
  double bzero;
  double epoch;
  double crpixx, crpixy;
  double crvalx, crvaly;
  double cdeltx, cdelty;
  double crotax, crotay;  // degrees
  char ctypex[256];
  char ctypey[256];
  char coordtype[256];
  char* history;         // owned; 72-character pieces run together
  int hist_size;         // allocated bytes of history
  char* comment;         // owned; same layout
  int com_size;
  int naxis;
  int naxisn[3];
  double cdelt[3];
  double crpix[3];
  double crval[3];
  // The HDUs the cards name as distortion tables (io/fits_lookup_tables.h),
  // as stored, written after the image.
  std::string lookup_tables;

  fitsstruct();
  fitsstruct(const fitsstruct& other);
  fitsstruct& operator=(const fitsstruct& other);
  ~fitsstruct();
  void fitsinit();
};

// Prints "\n> " a b and an empty line on the standard error, exits with status.
[[noreturn]] void error(int status, const char* a, const char* b);
// A failed write of the file name: "*Error* while writing (name: reason)",
// the reason read from errno at once, and status 1.
[[noreturn]] void fits_write_failure(const char* name);

// Empty record with a fresh model header (SIMPLE, BITPIX 0, NAXIS 0, END);
// the file name is kept.
void initfield(fitsstruct* rec);
// A new malloc'ed 2880-byte model header.
char* creafitsheader();

// Cards. Keys are compared over strlen(key) characters, so pad whole
// keywords to 8 ("NAXIS   ") to keep them from matching longer ones.
// fitsfind needs a buffer that holds an END card; it returns the END card's
// index for key "END     ".
int fitsfind(const char* buf, const char* key);
int fitsfind2(const char* buf, int size, const char* key);
char* fitsnfind(char* buf, const char* key, int nblocks);
// The value of a card up to its comment, without the blanks around it;
// empty for a card without a value indicator.
std::string bare_value(const char* card);
// Whether the card is the END card.
bool is_end_card(const char* card);
// Whether the card holds a value: "= " in columns 9 and 10.
bool has_value_indicator(const char* card);
// The card's value as a FITS number (a D exponent included) into *number;
// false, *number untouched, when the value is no such number.
bool fits_number(const char* card, double* number);
// Sets the real value of a card to exactly v, keeping its comment.
void set_exact_real(char* card, double v);
// A run that computes coordinate cards from the input's (a section, a
// zoom): what it is ("the section [40:11:3,*]", "-I"), what the user may
// do instead ("ask for [11:40,*]", "run without -I") and the input's name.
struct card_arithmetic {
  std::string run, instead, file;
  // The value computed for card `key` from its value `input`. Refuses
  // (status -1) one past the largest real: no FITS card holds it (written,
  // "-INF" fails every reader), as the FITS library refuses a section whose
  // cards it computes so.
  double checked(const std::string& key, double input, double value) const;
};
// The keyword of a card without trailing blanks, in upper case.
std::string upper_keyword(const char* card);
// value: short (t == T_SHORT) or int for H_INT; double (t == T_DOUBLE) or
// float for H_FLOAT/H_EXPO; int for H_BOOL; a char buffer of at least 71
// bytes for H_STRING and H_COMMENT. Result 0, or -1 when the key is absent.
int fitsread(const char* buf, const char* key, void* value, h_type kind, type_data t);
int fitsadd(char** buf, const char* key, const char* comment, int* size);
int fitswrite(char** buf, const char* key, const void* value, h_type kind, type_data t, int* size);

// HISTORY and COMMENT texts.
int fitsreadhist(const char* buf, int size, const char* key, char** text);
int fitsaddhist_com(fitsstruct* rec, const char* text, const char* kind);
int fitswritehist(fitsstruct* rec);
// Three 72-character lines (date, node and user; procedure and algorithm;
// free text) into text, which must hold 217 bytes.
void makehistory(char* text, const char* procedure, const char* algorithm, const char* free_text);

// Header blocks.
char* readfitshead(std::FILE* stream, const char* name, int* nblocks);
void writeimagehead(fitsstruct* rec);
void readimagehead(fitsstruct* rec);
// Fills rec from a card buffer of nblocks blocks, which it takes over.
void parseimagehead(fitsstruct* rec, char* cards, int nblocks);
int getrota(fitsstruct* rec, char* buf, int nblocks);
void updatefitsheader(fitsstruct* rec);

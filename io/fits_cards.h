// The one reader of FITS cards: every card is named and valued by the FITS
// library's own parsers, as its reads of a header name and value it, so
// that no form of a card (a blank or '=' inside its keyword, HIERARCH, any
// letter case, a value in quotes) reads otherwise in our checks than in the
// library. Every check made before a library call reads its cards here.
#pragma once

#include <cstddef>
#include <string>

// The keyword as the library names the card: up to its first blank or
// '=', or after HIERARCH up to its '='.
std::string card_keyword(const char* card);
// The value as the library parses it: a string keeps its quotes; empty
// when the card has none.
std::string card_value(const char* card);
// Both, from one copy of the card: for the passes that name every card of
// a header once.
struct named_card {
  std::string keyword;
  std::string value;
};
named_card card_named(const char* card);

// A value as the library converts it where it reads a keyword it asked
// for (a real cut toward zero, a logical as 0 or 1, a number in quotes),
// as an integer, a real, a string (without its quotes and trailing
// blanks) or a logical; false when it cannot.
bool value_integer(const std::string& value, long long* integer);
bool value_real(const std::string& value, double* real);
std::string value_text(const std::string& value);
bool value_logical(const std::string& value);
// The stricter conversions the library applies to the cards that lay out
// an HDU or a table: an integer written as one, a real as a number, neither
// in quotes.
bool value_integer_strict(const std::string& value, long long* integer);
bool value_real_strict(const std::string& value, double* real);

// How the library values a card, to tell whether two copies of it read
// alike: by its lenient or its strict conversions, as text, as a logical;
// `any` for a card the library does not read itself, whose copies agree
// as strings without their trailing blanks or as numbers of exactly the
// same value (1.0 and 1, not 2^53 + 1 and 2^53).
enum class card_kind : unsigned char { text, logical, integer, structure_integer, real, structure_real, any };
// Whether the library reads two copies of a card alike, whichever it
// meets: the same value as it parses them, or values it converts to the
// same (64 and 64.0 for a tile's side; 'SCI' and 'SCI  ' for a name).
bool copies_alike(const char* first, const char* second, card_kind kind);
// The same on the copies' values as card_value gives them.
bool values_alike(const std::string& first, const std::string& second, card_kind kind);

// Whether the card ends the header: the library ends it at the first card
// its parser names END, whatever follows the name ("END=", "END     X",
// "HIERARCH END = 1"), and at no card named otherwise ("end", " END").
bool end_card(const char* card);
// The first card of `size` bytes that ends the header, or null.
const char* first_end_card(const char* cards, std::size_t size);
// The keyword of the card that opens an HDU, as the library names that one
// card: its first 8 columns up to a NUL, less trailing blanks ("SIMPLE X"
// is not SIMPLE there, though the parser names it so elsewhere).
std::string opening_keyword(const char* card);

// The number n of a keyword `prefix` + n, read as the library reads the
// numbers of its column cards (TFORM3 and TFORM03 alike); 0 when `keyword`
// is no such keyword.
long long keyword_index(const std::string& keyword, const char* prefix);

std::string upper_case(std::string text);

// A column card's keyword with its number written plainly ("TFORM3" for
// TFORM03); empty for any other keyword.
std::string column_card_name(const std::string& keyword);

// The name by which the library finds a card of this keyword, as the
// checks ask for it (in upper case): a card it searches for in any letter
// case, upper-cased; a column card by its number (TFORM03 is TFORM3); any
// other (the table's structure, which it reads as written) its keyword.
std::string lookup_name(const std::string& keyword);
// Whether `card` is the one the library reads as `key`.
bool reads_as(const char* card, const std::string& key);
// The first of the cards before END that the library reads as `key`, or
// null.
const char* library_card(const char* cards, std::size_t size, const std::string& key);

// Whether the library takes an XTENSION card's type for a binary table:
// BINTABLE, A3DTABLE or 3DTABLE, in any spacing within the quotes, or none.
bool binary_table_type(const char* card);
// A table the library takes for a tile-compressed image: a binary table
// with a ZIMAGE card, named as written, whose value is true, wherever it
// stands among others.
bool compressed_table(const char* cards, std::size_t size);

#pragma once
// Command-line vocabulary of the analysis command: named parameters of the form
// --NAME=value, index lists of batch mode (e.g. "1-20,25,30-32(2)") and numbered file
// names whose index field is rewritten for every index of a batch.
//
// Named parameters are consumed in place: an element that a lookup has read gets "*"
// written over its first character, so it can never match again and the final
// consumption check needs no side table. Every function accepts null pointers and then
// reports "not found" / failure; none reads or writes outside the given strings.
#include <cstdint>

namespace brisvane {

// ---- named parameters ------------------------------------------------------------

// 1 when text begins with "--", else 0 (also 0 for null).
int isparam(const char* text);

// The value part of element (the position right after its first "=") when element has
// the shape --NAME=value with a non-empty value and its name part equals name exactly
// (case-sensitive, whole name: ALPHA does not match FVALPHA); nullptr otherwise.
const char* paramnamematch(const char* element, const char* name);

// Writes the read marker "*" over the first character of element; returns 0.
// An empty or null element is left alone.
int markparamasread(char* element);

// true when element carries the read marker.
bool paramalreadyread(const char* element);

// When element matches name and its value scans as a decimal integer ("%d" rules:
// leading white space skipped, longest valid prefix converted, the rest ignored):
// stores it in *value, marks the element and returns 0. Otherwise returns -1 and leaves
// both *value and the element untouched.
int getintparam(char* element, const char* name, int32_t* value);

// As getintparam for a 64-bit float ("%lf" rules, so 75.5, 1e-3, inf and nan scan).
int getdoubleparam(char* element, const char* name, double* value);

// The value part when element matches name (the element is then marked); nullptr
// otherwise. The result points into element itself and is not copied.
char* getstringparam(char* element, const char* name);

// Walk list[0 .. count-1]; the first element that matches and converts wins (it is
// marked, *value set, result 0). Elements that match but fail to convert stay unmarked
// and the walk goes on. -1 when no element supplies a value (*value untouched).
int searchintparam(uint32_t count, char** list, const char* name, int32_t* value);
int searchdoubleparam(uint32_t count, char** list, const char* name, double* value);

// Value part of the first element for which getstringparam gives one; nullptr if none.
char* searchstringparam(uint32_t count, char** list, const char* name);

// 1 when some element of the list lacks the read marker, 0 when all carry it (and for
// an empty list).
int unreadparams(uint32_t count, char* const* list);

// ---- index lists -----------------------------------------------------------------

// Number of decimal digits of v: 1 for 0..9, 2 for 10..99, ..., 10 for 1e9..4294967295.
uint32_t getdigits(uint32_t v);

// 0 when list is a well-formed index list, -1 otherwise. Well formed: items separated by
// ",", each a number or numbers joined by "-", numbers being plain runs of decimal digits
// whose values fit 32 bits (at most 4294967295) and strictly increase through the whole
// list; optionally followed by a digit-count group "(w)" (w digits only) that, when w is
// not 0, limits every number to w decimal digits. Text after ")" is not examined.
int strnumdiagnose(const char* list);

// First number of the item starting at pos (pos points at its first digit).
uint32_t strnumintervstart(const char* pos);

// The number after the item's first "-", or start when the item has no "-".
uint32_t strnumintervend(const char* pos, uint32_t start);

// Position just after the next ","; nullptr when the end of the text or "(" comes first.
const char* strnumnextinterv(const char* pos);

// ---- numbered file names ---------------------------------------------------------

// Start of the file-name part of path: after its last "/" or "\\" (path itself when it
// has neither).
const char* getfilename(const char* path);

// Position of the index field: the first character of the file-name part that is "?" or
// a decimal digit. nullptr when there is none.
const char* getfileindex(const char* path);

// Width of the index field (length of the run of "?" and digits at getfileindex); 0 when
// the path has no index field.
uint32_t getfileindexwidth(const char* path);

// Rewrites the index field in place to index, in decimal, left-padded with "0" to the
// field's width; the rest of the path is unchanged. 0 on success; -1 when the path has no
// index field or the index has more digits than the field is wide (path unchanged).
int replacefileindex(char* path, uint32_t index);

}  // namespace brisvane

#include "app/paramread.h"

#include <cstdio>

namespace brisvane {

namespace {

bool isdigitchar(char c) { return c >= '0' && c <= '9'; }

bool isindexchar(char c) { return c == '?' || isdigitchar(c); }

// Value of the digit run at *p, advancing p past it. Saturates at 2^32 so that a run
// too long for 32 bits is recognisable (the index list refuses such numbers).
uint64_t scandigitrun(const char*& p) {
  uint64_t v = 0;
  for (; isdigitchar(*p); ++p) {
    v = v * 10 + static_cast<uint64_t>(*p - '0');
    if (v > 0xFFFFFFFFull) v = 0x100000000ull;
  }
  return v;
}

}  // namespace

// ---- named parameters ------------------------------------------------------------

int isparam(const char* text) {
  return (text != nullptr && text[0] == '-' && text[1] == '-') ? 1 : 0;
}

const char* paramnamematch(const char* element, const char* name) {
  if (element == nullptr || name == nullptr) return nullptr;
  if (element[0] != '-' || element[1] != '-') return nullptr;
  const char* p = element + 2;
  while (*p != '\0' && *p != '=') ++p;
  if (p == element + 2 || *p != '=' || p[1] == '\0') return nullptr;
  const char* q = element + 2;
  const char* n = name;
  while (q < p && *n != '\0' && *q == *n) {
    ++q;
    ++n;
  }
  if (q != p || *n != '\0') return nullptr;
  return p + 1;
}

int markparamasread(char* element) {
  if (element != nullptr && element[0] != '\0') element[0] = '*';
  return 0;
}

bool paramalreadyread(const char* element) { return element != nullptr && element[0] == '*'; }

int getintparam(char* element, const char* name, int32_t* value) {
  const char* v = paramnamematch(element, name);
  if (v == nullptr || value == nullptr) return -1;
  int scanned = 0;
  if (std::sscanf(v, "%d", &scanned) != 1) return -1;
  *value = scanned;
  markparamasread(element);
  return 0;
}

int getdoubleparam(char* element, const char* name, double* value) {
  const char* v = paramnamematch(element, name);
  if (v == nullptr || value == nullptr) return -1;
  double scanned = 0.0;
  if (std::sscanf(v, "%lf", &scanned) != 1) return -1;
  *value = scanned;
  markparamasread(element);
  return 0;
}

char* getstringparam(char* element, const char* name) {
  const char* v = paramnamematch(element, name);
  if (v == nullptr) return nullptr;
  markparamasread(element);
  return element + (v - element);
}

int searchintparam(uint32_t count, char** list, const char* name, int32_t* value) {
  if (list == nullptr) return -1;
  for (uint32_t i = 0; i < count; ++i) {
    if (getintparam(list[i], name, value) == 0) return 0;
  }
  return -1;
}

int searchdoubleparam(uint32_t count, char** list, const char* name, double* value) {
  if (list == nullptr) return -1;
  for (uint32_t i = 0; i < count; ++i) {
    if (getdoubleparam(list[i], name, value) == 0) return 0;
  }
  return -1;
}

char* searchstringparam(uint32_t count, char** list, const char* name) {
  if (list == nullptr) return nullptr;
  for (uint32_t i = 0; i < count; ++i) {
    char* v = getstringparam(list[i], name);
    if (v != nullptr) return v;
  }
  return nullptr;
}

int unreadparams(uint32_t count, char* const* list) {
  if (list == nullptr) return 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (!paramalreadyread(list[i])) return 1;
  }
  return 0;
}

// ---- index lists -----------------------------------------------------------------

uint32_t getdigits(uint32_t v) {
  // 64-bit bound: the tenfold bound after 1e9 (1e10) does not fit 32 bits.
  uint32_t digits = 1;
  for (uint64_t bound = 10; v >= bound; bound *= 10) ++digits;
  return digits;
}

int strnumdiagnose(const char* list) {
  if (list == nullptr || !isdigitchar(list[0])) return -1;

  // Characters: digits, and "," or "-" each directly after a digit, up to the end or "(";
  // the last character before that must be a digit.
  const char* p = list + 1;
  for (; *p != '\0' && *p != '('; ++p) {
    if (*p == ',' || *p == '-') {
      if (!isdigitchar(p[-1])) return -1;
    } else if (!isdigitchar(*p)) {
      return -1;
    }
  }
  if (!isdigitchar(p[-1])) return -1;
  const char* listend = p;

  // Digit-count group "(w)": digits only, closed. A w too large for 32 bits is as
  // unlimiting as any w of 10 or more, so the saturated value serves.
  uint64_t width = 0;
  if (*p == '(') {
    const char* g = p + 1;
    if (!isdigitchar(*g)) return -1;
    width = scandigitrun(g);
    if (*g != ')') return -1;
  }

  // Values: each number fits 32 bits, respects the digit count and is strictly greater
  // than the one before it (ranges run upwards, items ascend and are disjoint).
  const char* q = list;
  uint64_t previous = 0;
  bool first = true;
  while (q < listend) {
    if (!first) ++q;  // step over "," or "-"
    const uint64_t number = scandigitrun(q);
    if (number > 0xFFFFFFFFull) return -1;
    if (width != 0 && getdigits(static_cast<uint32_t>(number)) > width) return -1;
    if (!first && number <= previous) return -1;
    previous = number;
    first = false;
  }
  return 0;
}

uint32_t strnumintervstart(const char* pos) {
  if (pos == nullptr) return 0;
  return static_cast<uint32_t>(scandigitrun(pos));
}

uint32_t strnumintervend(const char* pos, uint32_t start) {
  if (pos == nullptr) return start;
  while (*pos != '\0' && *pos != ',' && *pos != '(' && *pos != '-') ++pos;
  if (*pos != '-') return start;
  ++pos;
  if (!isdigitchar(*pos)) return start;
  return static_cast<uint32_t>(scandigitrun(pos));
}

const char* strnumnextinterv(const char* pos) {
  if (pos == nullptr) return nullptr;
  while (*pos != '\0' && *pos != ',' && *pos != '(') ++pos;
  return *pos == ',' ? pos + 1 : nullptr;
}

// ---- numbered file names ---------------------------------------------------------

const char* getfilename(const char* path) {
  if (path == nullptr) return nullptr;
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') name = p + 1;
  }
  return name;
}

const char* getfileindex(const char* path) {
  const char* p = getfilename(path);
  if (p == nullptr) return nullptr;
  for (; *p != '\0'; ++p) {
    if (isindexchar(*p)) return p;
  }
  return nullptr;
}

uint32_t getfileindexwidth(const char* path) {
  const char* p = getfileindex(path);
  if (p == nullptr) return 0;
  uint32_t width = 0;
  while (isindexchar(p[width])) ++width;
  return width;
}

int replacefileindex(char* path, uint32_t index) {
  const char* field = getfileindex(path);
  if (field == nullptr) return -1;
  const uint32_t width = getfileindexwidth(path);
  const uint32_t digits = getdigits(index);
  if (digits > width) return -1;
  // Fill the field from its right end: the index's digits, then "0" padding. Only the
  // field's own characters are written.
  char* f = path + (field - path);
  uint32_t v = index;
  for (uint32_t k = width; k > 0; --k) {
    f[k - 1] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
  return 0;
}

}  // namespace brisvane

// Index lists and numbered file names on arbitrary texts. Input layout: the index list,
// a newline, a path, a newline, then up to 4 bytes of a batch index (little-endian).
// The validator is compared with an independent reading of the list syntax, an accepted
// list must walk in strictly ascending, terminating intervals, and rewriting a path may
// change nothing but its index field.
#include <string_view>

#include "app/paramread.h"
#include "fuzzutil.h"

namespace {

bool isdigitc(char c) { return c >= '0' && c <= '9'; }

uint32_t refdigits(uint64_t v) {
  uint32_t d = 1;
  while (v >= 10) {
    v /= 10;
    ++d;
  }
  return d;
}

struct Interval {
  uint64_t first, last;
};

// Character rules: a leading digit, only digits, "," and "-" up to the end or "(", every
// separator right after a digit, a digit last; then an optional "(digits)" group.
// Returns false on a violation; end is the length of the item part, w the group value.
bool refsyntax(std::string_view s, size_t& end, uint64_t& w) {
  if (s.empty() || !isdigitc(s[0])) return false;
  end = s.find('(');
  const bool group = end != std::string_view::npos;
  if (!group) end = s.size();
  for (size_t i = 1; i < end; ++i) {
    const char c = s[i];
    if ((c == ',' || c == '-') ? !isdigitc(s[i - 1]) : !isdigitc(c)) return false;
  }
  if (!isdigitc(s[end - 1])) return false;
  w = 0;
  if (!group) return true;
  size_t j = end + 1;
  if (j >= s.size() || !isdigitc(s[j])) return false;
  size_t k = j;
  while (k < s.size() && isdigitc(s[k])) ++k;
  if (k >= s.size() || s[k] != ')') return false;
  // Any group value of 10 or more sets no effective limit (no 32-bit index has more
  // digits), so the value is saturated rather than scanned in full.
  for (size_t q = j; q < k; ++q) w = std::min<uint64_t>(w * 10 + static_cast<uint64_t>(s[q] - '0'), 1000);
  return true;
}

// Verdict of an independent reading of the list: 1 accept, 0 reject, -1 when the text
// lies where the exact verdict is a matter of interpretation (numbers written with ten
// or more characters that still fit 32 bits).
// items receives each item's first number and the number after its first "-".
int refdiagnose(std::string_view s, std::vector<Interval>& items) {
  items.clear();
  size_t end = 0;
  uint64_t w = 0;
  if (!refsyntax(s, end, w)) return 0;
  bool unsure = false;
  bool havePrev = false;
  uint64_t prev = 0;
  size_t i = 0;
  while (i < end) {
    // one item: numbers joined by "-"
    uint32_t pos = 0;
    while (true) {
      size_t k = i;
      uint64_t v = 0;
      while (k < end && isdigitc(s[k])) {
        if (v <= 0xFFFFFFFFull) v = v * 10 + static_cast<uint64_t>(s[k] - '0');
        ++k;
      }
      if (v > 0xFFFFFFFFull) return 0;  // an index that does not fit 32 bits
      if (k - i >= 10) unsure = true;
      if (w != 0 && refdigits(v) > w) return 0;
      if (havePrev && v <= prev) return 0;
      havePrev = true;
      prev = v;
      if (pos == 0) items.push_back({v, v});
      if (pos == 1) items.back().last = v;
      ++pos;
      i = k + 1;
      if (k >= end || s[k] == ',') break;
    }
  }
  return unsure ? -1 : 1;
}

void checklist(const std::string& list) {
  std::vector<Interval> items;
  const int ref = refdiagnose(list, items);
  const int got = brisvane::strnumdiagnose(list.c_str());
  FUZZ_CHECK(got == 0 || got == -1, "strnumdiagnose returned %d", got);
  if (ref >= 0)
    FUZZ_CHECK((got == 0) == (ref == 1), "list \"%s\": validator says %d, expected %s", list.c_str(), got,
               ref ? "accept" : "reject");
  if (got != 0) return;

  // Walk the accepted list as the batch loop does: it must end, and its intervals must
  // run upwards without overlapping.
  const char* pos = list.c_str();
  size_t steps = 0;
  bool havePrev = false;
  uint32_t prevLast = 0;
  while (pos != nullptr) {
    FUZZ_CHECK(pos >= list.c_str() && pos <= list.c_str() + list.size(), "walk left the list text");
    FUZZ_CHECK(++steps <= list.size() + 1, "walk of \"%s\" does not terminate", list.c_str());
    const uint32_t first = brisvane::strnumintervstart(pos);
    const uint32_t last = brisvane::strnumintervend(pos, first);
    FUZZ_CHECK(first <= last, "interval %u-%u runs downwards in \"%s\"", first, last, list.c_str());
    if (havePrev) FUZZ_CHECK(first > prevLast, "interval %u-%u overlaps the previous one", first, last);
    if (ref == 1) {
      FUZZ_CHECK(steps <= items.size(), "more intervals than items in \"%s\"", list.c_str());
      FUZZ_CHECK(first == items[steps - 1].first && last == items[steps - 1].last,
                 "interval %zu of \"%s\" walked as %u-%u", steps, list.c_str(), first, last);
    }
    havePrev = true;
    prevLast = last;
    pos = brisvane::strnumnextinterv(pos);
  }
  if (ref == 1) FUZZ_CHECK(steps == items.size(), "walked %zu of %zu intervals", steps, items.size());
}

void checkpath(const std::string& path, uint32_t index) {
  FUZZ_CHECK(brisvane::getdigits(index) == refdigits(index), "getdigits(%u) = %u", index,
             brisvane::getdigits(index));
  const size_t slash = path.find_last_of("/\\");
  const size_t name = slash == std::string::npos ? 0 : slash + 1;
  size_t field = name;
  while (field < path.size() && !(isdigitc(path[field]) || path[field] == '?')) ++field;
  size_t width = 0;
  while (field + width < path.size() && (isdigitc(path[field + width]) || path[field + width] == '?')) ++width;

  std::string expect = path;
  int expectresult = -1;
  if (width > 0 && refdigits(index) <= width) {
    std::string digits = std::to_string(index);
    expect.replace(field, width, std::string(width - digits.size(), '0') + digits);
    expectresult = 0;
  }
  FUZZ_CHECK(brisvane::getfileindexwidth(path.c_str()) == width, "field width of \"%s\"", path.c_str());

  std::vector<char> buf(path.begin(), path.end());
  buf.push_back('\0');
  const int r = brisvane::replacefileindex(buf.data(), index);
  FUZZ_CHECK(buf.back() == '\0', "terminator overwritten");
  const std::string got(buf.data(), buf.size() - 1);
  FUZZ_CHECK(r == expectresult, "replacefileindex(\"%s\", %u) returned %d", path.c_str(), index, r);
  FUZZ_CHECK(got == expect, "replacefileindex(\"%s\", %u) gave \"%s\", expected \"%s\"", path.c_str(), index,
             got.c_str(), expect.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  const size_t nl1 = in.find('\n');
  std::string list(in.substr(0, nl1));
  std::string path;
  uint32_t index = 0;
  if (nl1 != std::string_view::npos) {
    std::string_view rest = in.substr(nl1 + 1);
    const size_t nl2 = rest.find('\n');
    path = std::string(rest.substr(0, nl2));
    if (nl2 != std::string_view::npos) {
      std::string_view tail = rest.substr(nl2 + 1);
      for (size_t i = 0; i < tail.size() && i < 4; ++i) index |= static_cast<uint32_t>(static_cast<uint8_t>(tail[i])) << (8 * i);
    }
  }
  // C strings end at the first NUL: that is what the command would see in argv.
  list = list.substr(0, list.find('\0'));
  path = path.substr(0, path.find('\0'));

  checklist(list);
  checkpath(path, index);
  // Rewriting to every interval end of an accepted list, as the batch loop does.
  if (brisvane::strnumdiagnose(list.c_str()) == 0) {
    for (const char* pos = list.c_str(); pos != nullptr; pos = brisvane::strnumnextinterv(pos))
      checkpath(path, brisvane::strnumintervend(pos, brisvane::strnumintervstart(pos)));
  }
  return 0;
}

// Named parameters, index lists and numbered file names of the command line.
#include "app/paramread.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace brisvane {
namespace {

// A mutable argument list built from literals, as argv would hold it.
struct ArgList {
  std::vector<std::string> text;
  std::vector<char*> ptrs;
  explicit ArgList(std::vector<std::string> t) : text(std::move(t)) {
    for (auto& s : text) ptrs.push_back(s.data());
  }
  uint32_t count() const { return static_cast<uint32_t>(ptrs.size()); }
  char** list() { return ptrs.data(); }
};

TEST(NamedParameters, MatchingRequiresWholeNameAndNonEmptyValue) {
  const std::pair<const char*, int> prefixes[] = {{"--X", 1}, {"-X", 0}, {"", 0}, {nullptr, 0}};
  for (const auto& [text, want] : prefixes) EXPECT_EQ(isparam(text), want) << (text ? text : "null");
  const char* e = "--INDLIST=1-5=x";
  EXPECT_EQ(paramnamematch(e, "INDLIST"), e + 10);  // value keeps further "="
  const std::pair<const char*, const char*> misses[] = {
      {"--LFRAME=", "LFRAME"},  {"--=5", "LFRAME"},      {"--LFRAME", "LFRAME"},    {"--", "LFRAME"},
      {"-LFRAME=4", "LFRAME"},  {"--lframe=40", "LFRAME"}, {"--LFRAMEX=4", "LFRAME"}, {"--LFRAM=4", "LFRAME"},
      {"*-LFRAME=4", "LFRAME"}, {"--FVALPHA=1", "ALPHA"}, {"--ALPHA=1", "FVALPHA"}, {nullptr, "ALPHA"}};
  for (const auto& [element, name] : misses) EXPECT_EQ(paramnamematch(element, name), nullptr) << element;
}

TEST(NamedParameters, ScanningFollowsFormattedInputRules) {
  struct IntCase { const char* arg; int ok; int32_t value; };
  for (const IntCase& c : {IntCase{"--N=40", 0, 40}, IntCase{"--N=80abc", 0, 80}, IntCase{"--N=24.9", 0, 24},
                           IntCase{"--N= \t-7", 0, -7}, IntCase{"--N=+3", 0, 3}, IntCase{"--N=abc", -1, 1234},
                           IntCase{"--N=-", -1, 1234}, IntCase{"--N=  ", -1, 1234}}) {
    std::string s = c.arg;
    int32_t v = 1234;
    EXPECT_EQ(getintparam(s.data(), "N", &v), c.ok) << c.arg;
    EXPECT_EQ(v, c.value) << c.arg;
    EXPECT_EQ(s[0] == '*', c.ok == 0) << c.arg;  // marked exactly when consumed
  }
  struct DblCase { const char* arg; int ok; double value; };
  for (const DblCase& c : {DblCase{"--F=75.5", 0, 75.5}, DblCase{"--F=1e-3x", 0, 1e-3}, DblCase{"--F=60", 0, 60.0},
                           DblCase{"--F=.5", 0, 0.5}, DblCase{"--F=x1", -1, 9.0}, DblCase{"--F=nan", 0, NAN}}) {
    std::string s = c.arg;
    double v = 9.0;
    EXPECT_EQ(getdoubleparam(s.data(), "F", &v), c.ok) << c.arg;
    EXPECT_TRUE(v == c.value || (std::isnan(v) && std::isnan(c.value))) << c.arg << " " << v;
  }
}

TEST(NamedParameters, SearchConsumesFirstConvertibleElementOnly) {
  ArgList a({"--LFRAME=abc", "--LFRAME=40", "--LFRAME=20", "--CCORD=24", "out.f0"});
  int32_t v = 80;
  EXPECT_EQ(searchintparam(a.count(), a.list(), "LFRAME", &v), 0);
  EXPECT_EQ(v, 40);
  // Unparsable and repeated elements are left unread.
  EXPECT_EQ(a.text, (std::vector<std::string>{"--LFRAME=abc", "*-LFRAME=40", "--LFRAME=20", "--CCORD=24", "out.f0"}));
  // A consumed element never matches again: the next search takes the repeat.
  EXPECT_EQ(searchintparam(a.count(), a.list(), "LFRAME", &v), 0);
  EXPECT_EQ(v, 20);
  EXPECT_EQ(searchintparam(a.count(), a.list(), "CCORD", &v), 0);
  EXPECT_EQ(searchintparam(a.count(), a.list(), "FFTSIZE", &v), -1);
  EXPECT_EQ(v, 24);
  a.text[0][0] = '*';  // a stray positional name after the parameters is never consumed
  EXPECT_EQ(unreadparams(a.count(), a.list()), 1);

  ArgList d({"--F0MIN=75.5", "--ALPHA=0.3"});
  double x = 0.0;
  EXPECT_EQ(searchdoubleparam(d.count(), d.list(), "ALPHA", &x), 0);
  EXPECT_EQ(x, 0.3);
  EXPECT_EQ(searchdoubleparam(d.count(), d.list(), "F0MIN", &x), 0);
  EXPECT_EQ(x, 75.5);
  EXPECT_EQ(unreadparams(d.count(), d.list()), 0);

  ArgList s({"--INDLIST=", "--INDLIST=1-5"});
  char* str = searchstringparam(s.count(), s.list(), "INDLIST");
  EXPECT_EQ(str, s.text[1].data() + 10);  // points into the argument itself
  EXPECT_STREQ(s.text[1].c_str(), "*-INDLIST=1-5");
  EXPECT_EQ(searchstringparam(s.count(), s.list(), "INDLIST"), nullptr);
  EXPECT_EQ(unreadparams(s.count(), s.list()), 1);

  // An empty list: nothing found, values untouched, nothing unread.
  EXPECT_EQ(searchintparam(0, nullptr, "LFRAME", &v), -1);
  EXPECT_EQ(searchdoubleparam(0, nullptr, "ALPHA", &x), -1);
  EXPECT_TRUE(v == 24 && x == 75.5);
  EXPECT_EQ(searchstringparam(0, nullptr, "INDLIST"), nullptr);
  EXPECT_EQ(unreadparams(0, nullptr), 0);
}

TEST(IndexLists, DigitsAndDiagnosis) {
  const uint32_t digits[][2] = {{0, 1}, {9, 1}, {10, 2}, {100, 3}, {999, 3}, {1000, 4}, {1234567, 7},
                                {999999999, 9}, {1000000000, 10}, {1410065408u, 10}, {4294967295u, 10}};
  for (const auto& d : digits) EXPECT_EQ(getdigits(d[0]), d[1]) << d[0];  // 1410065408: a 32-bit bound wraps
  for (const char* ok : {"1", "0", "1-20", "1-3,7,9-12", "1-20(2)", "1-3(0)", "1-3-5", "1-3(2)x",
                         "4294967294-4294967295", "0000000001-2", "1(99999999999)"}) {
    EXPECT_EQ(strnumdiagnose(ok), 0) << ok;
  }
  for (const char* bad : {"", "-1", "1,,2", "1-", "1,2-", "5-5", "5-3", "3,1-2", "1-3,2", "1-100(2)", "1-3()",
                          "1-3(2", "1-3(x)", "1-3(2x)", "a b", "1 2", "1,-2", "(2)", "1-4294967296", "4294967296",
                          "99999999999", "12345678901", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(strnumdiagnose(bad), -1) << (bad ? bad : "null");
  }
}

TEST(IndexLists, WalkingIntervals) {
  std::vector<std::pair<uint32_t, uint32_t>> got;
  for (const char* p = "1-3,7,9-12-15(2)"; p != nullptr; p = strnumnextinterv(p)) {
    const uint32_t s = strnumintervstart(p);
    got.emplace_back(s, strnumintervend(p, s));
  }
  EXPECT_EQ(got, (std::vector<std::pair<uint32_t, uint32_t>>{{1, 3}, {7, 7}, {9, 12}}));
  EXPECT_EQ(strnumintervend("4000000000-4294967295", 4000000000u), 4294967295u);
}

TEST(NumberedFileNames, IndexFieldAndRewriting) {
  EXPECT_STREQ(getfilename("a/b\\c/d.wav"), "d.wav");
  EXPECT_STREQ(getfilename("d.wav"), "d.wav");
  EXPECT_STREQ(getfileindex("run5/take01.wav"), "01.wav");  // the "5" is in the directory part
  EXPECT_EQ(getfileindexwidth("run5/take01.wav"), 2u);
  EXPECT_EQ(getfileindex("dir7/name.wav"), nullptr);
  EXPECT_EQ(getfileindexwidth("dir7/name.wav"), 0u);
  EXPECT_EQ(getfileindex(nullptr), nullptr);

  // Each row rewrites the path left by the previous row of the same name; a refusal
  // leaves it unchanged. Indices above 2^31 are written unsigned, never with a sign.
  struct Step { const char* start; uint32_t index; int rc; const char* after; };
  std::string p;
  for (const Step& s : {Step{"data/utt???.wav", 7, 0, "data/utt007.wav"}, Step{nullptr, 12, 0, "data/utt012.wav"},
                        Step{"run5/take01.wav", 3, 0, "run5/take03.wav"}, Step{nullptr, 100, -1, "run5/take03.wav"},
                        Step{"f0_1.lf0", 4, 0, "f4_1.lf0"}, Step{"a1??.wav", 5, 0, "a005.wav"},
                        Step{"dir7/name.wav", 1, -1, "dir7/name.wav"}, Step{"u??????????.wav", 4294967295u, 0, "u4294967295.wav"},
                        Step{"u????????????.wav", 3000000000u, 0, "u003000000000.wav"}}) {
    if (s.start != nullptr) p = s.start;
    EXPECT_EQ(replacefileindex(p.data(), s.index), s.rc) << s.after;
    EXPECT_EQ(p, s.after);
  }
}

}  // namespace
}  // namespace brisvane

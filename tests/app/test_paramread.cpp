// Named parameters, index lists and numbered file names of the command line.
#include "app/paramread.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
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
  EXPECT_EQ(isparam("--X"), 1);
  EXPECT_EQ(isparam("-X"), 0);
  EXPECT_EQ(isparam(""), 0);
  EXPECT_EQ(isparam(nullptr), 0);

  const char* e = "--INDLIST=1-5=x";
  EXPECT_EQ(paramnamematch(e, "INDLIST"), e + 10);  // value keeps further "="
  for (const char* bad : {"--LFRAME=", "--=5", "--LFRAME", "--", "-LFRAME=4", "--lframe=40",
                          "--LFRAMEX=4", "--LFRAM=4", "*-LFRAME=4"}) {
    EXPECT_EQ(paramnamematch(bad, "LFRAME"), nullptr) << bad;
  }
  EXPECT_EQ(paramnamematch("--FVALPHA=1", "ALPHA"), nullptr);
  EXPECT_EQ(paramnamematch("--ALPHA=1", "FVALPHA"), nullptr);
  EXPECT_EQ(paramnamematch(nullptr, "ALPHA"), nullptr);
}

TEST(NamedParameters, ScanningFollowsFormattedInputRules) {
  struct IntCase { const char* arg; int ok; int32_t value; };
  for (const IntCase& c : {IntCase{"--N=40", 0, 40}, IntCase{"--N=80abc", 0, 80},
                           IntCase{"--N=24.9", 0, 24}, IntCase{"--N= \t-7", 0, -7},
                           IntCase{"--N=+3", 0, 3}, IntCase{"--N=abc", -1, 1234},
                           IntCase{"--N=-", -1, 1234}, IntCase{"--N=  ", -1, 1234}}) {
    std::string s = c.arg;
    int32_t v = 1234;
    EXPECT_EQ(getintparam(s.data(), "N", &v), c.ok) << c.arg;
    EXPECT_EQ(v, c.value) << c.arg;
    EXPECT_EQ(s[0] == '*', c.ok == 0) << c.arg;  // marked exactly when consumed
  }
  struct DblCase { const char* arg; int ok; double value; };
  for (const DblCase& c : {DblCase{"--F=75.5", 0, 75.5}, DblCase{"--F=1e-3x", 0, 1e-3},
                           DblCase{"--F=60", 0, 60.0}, DblCase{"--F=.5", 0, 0.5},
                           DblCase{"--F=x1", -1, 9.0}}) {
    std::string s = c.arg;
    double v = 9.0;
    EXPECT_EQ(getdoubleparam(s.data(), "F", &v), c.ok) << c.arg;
    EXPECT_EQ(v, c.value) << c.arg;
  }
  std::string n = "--F=nan";
  double v = 0.0;
  EXPECT_EQ(getdoubleparam(n.data(), "F", &v), 0);
  EXPECT_TRUE(std::isnan(v));
}

TEST(NamedParameters, SearchConsumesFirstConvertibleElementOnly) {
  ArgList a({"--LFRAME=abc", "--LFRAME=40", "--LFRAME=20", "--CCORD=24"});
  int32_t v = 80;
  EXPECT_EQ(searchintparam(a.count(), a.list(), "LFRAME", &v), 0);
  EXPECT_EQ(v, 40);
  EXPECT_EQ(a.text[0], "--LFRAME=abc");  // unparsable: left unread
  EXPECT_EQ(a.text[1], "*-LFRAME=40");
  EXPECT_EQ(a.text[2], "--LFRAME=20");   // repeated: left unread
  // A consumed element never matches again: the next search takes the repeat.
  EXPECT_EQ(searchintparam(a.count(), a.list(), "LFRAME", &v), 0);
  EXPECT_EQ(v, 20);
  EXPECT_EQ(searchintparam(a.count(), a.list(), "CCORD", &v), 0);
  EXPECT_EQ(v, 24);
  EXPECT_EQ(unreadparams(a.count(), a.list()), 1);  // "--LFRAME=abc" remains
  EXPECT_EQ(searchintparam(a.count(), a.list(), "FFTSIZE", &v), -1);
  EXPECT_EQ(v, 24);

  ArgList d({"--F0MIN=75.5", "--ALPHA=0.3"});
  double x = 0.0;
  EXPECT_EQ(searchdoubleparam(d.count(), d.list(), "ALPHA", &x), 0);
  EXPECT_EQ(x, 0.3);
  EXPECT_EQ(searchdoubleparam(d.count(), d.list(), "F0MIN", &x), 0);
  EXPECT_EQ(x, 75.5);
  EXPECT_EQ(unreadparams(d.count(), d.list()), 0);
}

TEST(NamedParameters, StringValuePointsIntoArgument) {
  ArgList a({"--INDLIST=", "--INDLIST=1-5"});
  char* v = searchstringparam(a.count(), a.list(), "INDLIST");
  ASSERT_NE(v, nullptr);
  EXPECT_STREQ(v, "1-5");
  EXPECT_EQ(v, a.text[1].data() + 10);
  EXPECT_EQ(a.text[1][0], '*');
  EXPECT_EQ(searchstringparam(a.count(), a.list(), "INDLIST"), nullptr);
  EXPECT_EQ(unreadparams(a.count(), a.list()), 1);
}

TEST(NamedParameters, EmptyListFindsNothingAndHasNothingUnread) {
  int32_t i = 5;
  double d = 2.0;
  EXPECT_EQ(searchintparam(0, nullptr, "LFRAME", &i), -1);
  EXPECT_EQ(searchdoubleparam(0, nullptr, "ALPHA", &d), -1);
  EXPECT_EQ(searchstringparam(0, nullptr, "INDLIST"), nullptr);
  EXPECT_EQ(unreadparams(0, nullptr), 0);
  EXPECT_EQ(i, 5);
  EXPECT_EQ(d, 2.0);
  // Stray positional names after the first parameter are never consumed.
  ArgList a({"--LFRAME=40", "out.f0"});
  EXPECT_EQ(searchintparam(a.count(), a.list(), "LFRAME", &i), 0);
  EXPECT_EQ(unreadparams(a.count(), a.list()), 1);
}

TEST(IndexLists, GetDigitsIsExactOverThe32BitRange) {
  EXPECT_EQ(getdigits(0), 1u);
  EXPECT_EQ(getdigits(9), 1u);
  EXPECT_EQ(getdigits(10), 2u);
  EXPECT_EQ(getdigits(100), 3u);
  EXPECT_EQ(getdigits(999), 3u);
  EXPECT_EQ(getdigits(1000), 4u);
  EXPECT_EQ(getdigits(1234567), 7u);
  EXPECT_EQ(getdigits(999999999), 9u);
  EXPECT_EQ(getdigits(1000000000), 10u);
  EXPECT_EQ(getdigits(1410065408u), 10u);  // where a 32-bit tenfold bound would wrap
  EXPECT_EQ(getdigits(4294967295u), 10u);
}

TEST(IndexLists, AcceptedAndRejectedLists) {
  for (const char* ok : {"1", "0", "1-20", "1-3,7,9-12", "1-20(2)", "1-3(0)", "1-3-5",
                         "1-3(2)x", "4294967294-4294967295", "0000000001-2", "1(99999999999)"}) {
    EXPECT_EQ(strnumdiagnose(ok), 0) << ok;
  }
  for (const char* bad : {"", "-1", "1,,2", "1-", "1,2-", "5-5", "5-3", "3,1-2", "1-3,2",
                          "1-100(2)", "1-3()", "1-3(2", "1-3(x)", "1-3(2x)", "a b", "1 2",
                          "1,-2", "(2)", "1-4294967296", "4294967296", "99999999999",
                          "12345678901"}) {
    EXPECT_EQ(strnumdiagnose(bad), -1) << bad;
  }
  EXPECT_EQ(strnumdiagnose(nullptr), -1);
}

TEST(IndexLists, WalkingIntervals) {
  const char* list = "1-3,7,9-12-15(2)";
  std::vector<std::pair<uint32_t, uint32_t>> got;
  for (const char* p = list; p != nullptr; p = strnumnextinterv(p)) {
    const uint32_t s = strnumintervstart(p);
    got.emplace_back(s, strnumintervend(p, s));
  }
  const std::vector<std::pair<uint32_t, uint32_t>> want = {{1, 3}, {7, 7}, {9, 12}};
  EXPECT_EQ(got, want);
  EXPECT_EQ(strnumintervend("4000000000-4294967295", 4000000000u), 4294967295u);
}

TEST(NumberedFileNames, IndexFieldLiesInTheFileNamePart) {
  EXPECT_STREQ(getfilename("a/b\\c/d.wav"), "d.wav");
  EXPECT_STREQ(getfilename("d.wav"), "d.wav");
  EXPECT_STREQ(getfileindex("run5/take01.wav"), "01.wav");
  EXPECT_EQ(getfileindexwidth("run5/take01.wav"), 2u);
  EXPECT_EQ(getfileindexwidth("a1??.wav"), 3u);
  EXPECT_EQ(getfileindex("dir7/name.wav"), nullptr);
  EXPECT_EQ(getfileindexwidth("dir7/name.wav"), 0u);
  EXPECT_EQ(getfileindex(nullptr), nullptr);
}

TEST(NumberedFileNames, RewritingKeepsWidthAndRefusesOverflow) {
  std::string p = "data/utt???.wav";
  EXPECT_EQ(replacefileindex(p.data(), 7), 0);
  EXPECT_EQ(p, "data/utt007.wav");
  EXPECT_EQ(replacefileindex(p.data(), 12), 0);
  EXPECT_EQ(p, "data/utt012.wav");

  std::string r = "run5/take01.wav";
  EXPECT_EQ(replacefileindex(r.data(), 3), 0);
  EXPECT_EQ(r, "run5/take03.wav");
  EXPECT_EQ(replacefileindex(r.data(), 100), -1);
  EXPECT_EQ(r, "run5/take03.wav");

  std::string f = "f0_1.lf0";
  EXPECT_EQ(replacefileindex(f.data(), 4), 0);
  EXPECT_EQ(f, "f4_1.lf0");

  std::string m = "a1??.wav";
  EXPECT_EQ(replacefileindex(m.data(), 5), 0);
  EXPECT_EQ(m, "a005.wav");

  std::string none = "x/name.wav";
  EXPECT_EQ(replacefileindex(none.data(), 1), -1);
  EXPECT_EQ(none, "x/name.wav");

  // Indices above 2^31 are written as unsigned values, never with a sign.
  std::string big = "u??????????.wav";
  EXPECT_EQ(replacefileindex(big.data(), 4294967295u), 0);
  EXPECT_EQ(big, "u4294967295.wav");
  std::string wide = "u????????????.wav";
  EXPECT_EQ(replacefileindex(wide.data(), 3000000000u), 0);
  EXPECT_EQ(wide, "u003000000000.wav");
}

}  // namespace
}  // namespace brisvane

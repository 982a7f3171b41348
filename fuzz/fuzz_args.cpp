// The command's argument handling on arbitrary argument vectors. The fuzz input is split
// at NUL bytes into arguments. The run happens in a private directory holding one tiny
// recording (a1.wav) and one log-f0 track (a1.lf0), so that well-formed vectors reach the
// analysis while no path can leave the directory (positional names lose every "/" and are
// placed in the directory).
// Properties: the result is 0 or -1; a refused run prints one complaint or one "Error: "
// line and creates or changes no file; an accepted run leaves only complete streams of
// finite 32-bit values.
#include <cmath>
#include <string_view>

#include "app/brisvane.h"
#include "app/paramread.h"
#include "fuzzutil.h"

namespace {

constexpr size_t kMaxArgs = 12;
constexpr size_t kMaxArgLength = 256;
// Batch runs longer than this are skipped: each index costs a file lookup, so a list
// such as 0-4294967295 is slow by request, not by fault.
constexpr uint64_t kMaxBatch = 64;

const char* const kComplaint = "Incorrect input arguments.\nHelp: brisvane16 (without arguments)\n\n";

// A tiny recording (40 samples of a 400 Hz tone) and a log-f0 track of 3 frames.
std::vector<uint8_t> fixturewav() {
  const uint32_t n = 40;
  std::vector<uint8_t> b;
  auto put = [&b](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  b.insert(b.end(), {'R', 'I', 'F', 'F'});
  put(36 + 2 * n, 4);
  b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put(16, 4);
  put(1, 2);
  put(1, 2);
  put(16000, 4);
  put(32000, 4);
  put(2, 2);
  put(16, 2);
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  put(2 * n, 4);
  for (uint32_t i = 0; i < n; ++i)
    put(static_cast<uint16_t>(static_cast<int16_t>(8000.0 * std::sin(6.283185307179586 * 400.0 * i / 16000.0))), 2);
  return b;
}

std::vector<uint8_t> fixturelf0() {
  const float v[3] = {-1e10f, 5.0f, 5.1f};
  std::vector<uint8_t> b(sizeof v);
  std::memcpy(b.data(), v, sizeof v);
  return b;
}

struct Fixture {
  fuzzutil::ScratchDir dir;
  std::vector<uint8_t> wav = fixturewav();
  std::vector<uint8_t> lf0 = fixturelf0();
  void reset() const {
    dir.clear();
    fuzzutil::writefile(dir / "a1.wav", wav);
    fuzzutil::writefile(dir / "a1.lf0", lf0);
  }
};

// Indices an accepted INDLIST of these arguments would process (0 without one).
uint64_t batchlength(const std::vector<std::string>& args) {
  size_t first = 0;
  while (first < args.size() && brisvane::isparam(args[first].c_str()) == 0) ++first;
  for (size_t i = first; i < args.size(); ++i) {
    const char* v = brisvane::paramnamematch(args[i].c_str(), "INDLIST");
    if (v == nullptr) continue;
    if (brisvane::strnumdiagnose(v) != 0) return 0;
    uint64_t total = 0;
    for (const char* p = v; p != nullptr; p = brisvane::strnumnextinterv(p)) {
      const uint32_t a = brisvane::strnumintervstart(p);
      total += static_cast<uint64_t>(brisvane::strnumintervend(p, a)) - a + 1;
    }
    return total;
  }
  return 0;
}

bool finitestream(const std::vector<uint8_t>& bytes) {
  if (bytes.size() % 4 != 0) return false;
  for (size_t i = 0; i < bytes.size(); i += 4) {
    float v;
    std::memcpy(&v, bytes.data() + i, 4);
    if (!std::isfinite(v)) return false;
  }
  return true;
}

// Without a batch the command prints nothing but its per-file error messages, each about
// one of the file names; a batch also prints each recording's name before analysing it.
bool wellformedoutput(const std::string& out, bool batch, const std::vector<std::string>& names) {
  if (batch) return out.empty() || out.back() == '\n';
  static const char* const kForms[][2] = {{"Error: could not open ", ".\n"},
                                          {"Error: could not create ", ".\n"},
                                          {"Error: not enough memory to analyse ", ".\n"}};
  size_t pos = 0;
  while (pos < out.size()) {
    bool matched = false;
    for (const auto& form : kForms) {
      for (const auto& name : names) {
        const std::string msg = std::string(form[0]) + name + form[1];
        if (out.compare(pos, msg.size(), msg) == 0) {
          pos += msg.size();
          matched = true;
          break;
        }
      }
      if (matched) break;
    }
    if (!matched) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fx;

  // Arguments: NUL-separated pieces of the input; names before the first "--" argument
  // are positional and are kept inside the private directory.
  std::vector<std::string> args = {"brisvane16"};
  std::string_view in(reinterpret_cast<const char*>(data), size);
  while (!in.empty() && args.size() <= kMaxArgs) {
    const size_t z = in.find('\0');
    args.emplace_back(in.substr(0, std::min(z, kMaxArgLength)));
    if (z == std::string_view::npos) break;
    in.remove_prefix(z + 1);
  }
  if (size == 0) args.resize(1);
  bool named = false;
  for (size_t i = 1; i < args.size(); ++i) {
    named = named || brisvane::isparam(args[i].c_str()) != 0;
    if (!named) {
      std::erase(args[i], '/');
      args[i] = fx.dir / args[i];
    }
  }
  const uint64_t batch = batchlength(args);
  if (batch > kMaxBatch) return 0;

  fx.reset();
  std::vector<std::vector<char>> store;
  std::vector<char*> argv;
  for (const auto& a : args) store.emplace_back(a.c_str(), a.c_str() + a.size() + 1);
  for (auto& s : store) argv.push_back(s.data());
  argv.push_back(nullptr);

  fuzzutil::StdoutCapture cap;
  const int rc = brisvane::brisvanemain(static_cast<int>(args.size()), argv.data());
  const std::string out = cap.finish();

  FUZZ_CHECK(rc == 0 || rc == -1, "result %d", rc);
  const std::vector<std::string> files = fuzzutil::listdir(fx.dir.path());
  const bool fixturesintact = fuzzutil::readfile(fx.dir / "a1.wav") == fx.wav &&
                              fuzzutil::readfile(fx.dir / "a1.lf0") == fx.lf0;
  std::vector<std::string> names;
  for (size_t i = 1; i < args.size() && brisvane::isparam(args[i].c_str()) == 0; ++i) names.push_back(args[i]);
  if (rc == -1) {
    FUZZ_CHECK(files.size() == 2 && fixturesintact, "a refused run created or changed files");
    // One "Error: " line (file names may themselves hold line breaks).
    size_t breaks = 1;
    for (const auto& n : names) breaks += static_cast<size_t>(std::count(n.begin(), n.end(), '\n'));
    const bool oneerror = out.rfind("Error: ", 0) == 0 && !out.empty() && out.back() == '\n' &&
                          static_cast<size_t>(std::count(out.begin(), out.end(), '\n')) <= breaks;
    FUZZ_CHECK(out == kComplaint || oneerror, "refused run printed \"%s\"", out.c_str());
    return 0;
  }
  if (args.size() == 1) {
    FUZZ_CHECK(out.find("Usage:") != std::string::npos, "no help screen");
    return 0;
  }
  FUZZ_CHECK(wellformedoutput(out, batch > 0, names), "unexpected output \"%s\"", out.c_str());
  for (const auto& name : files) {
    const std::vector<uint8_t> bytes = fuzzutil::readfile(fx.dir / name);
    if ((name == "a1.wav" && bytes == fx.wav) || (name == "a1.lf0" && bytes == fx.lf0)) continue;
    FUZZ_CHECK(finitestream(bytes), "output %s (%zu bytes) is not a whole stream of finite values",
               name.c_str(), bytes.size());
  }
  return 0;
}

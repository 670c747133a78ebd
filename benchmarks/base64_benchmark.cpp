// Our Base64 conversions against OpenSSL's block functions and against a
// plain memcpy of the output size, on the same inputs in the same run. After
// the runs it prints, per input size, our throughput as a multiple of each.
//
// Our conversions allocate their output (that is their interface), so the
// allocation and the free are timed with them; the others write into a
// buffer made beforehand. Our decoder also runs on text broken into lines
// of 64 characters, with LF CR (as our encoder writes it), CR LF and LF;
// OpenSSL's block decoder takes no breaks, so it runs on the unbroken text.
//
// --veskar_path=scalar|ssse3|avx2|avx512vbmi makes our conversions take that
// path in place of the best one the CPU offers.

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <veskar/base64.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "codec/base64_paths.h"

namespace {

const size_t kSizes[] = {48, 64, 4096, 1 << 20};

using veskar::base64::Path;

// How each text for our decoder ends its lines; "" for none.
const struct {
  const char* name;
  const char* line_break;
} kTextForms[] = {{"", ""}, {"_lfcr", "\n\r"}, {"_crlf", "\r\n"}, {"_lf", "\n"}};

// The paths ours run on: the active one, and AVX2 beside it.
std::vector<Path> ComparedPaths() {
  std::vector<Path> paths = {veskar::base64::ActivePath()};
  if (paths[0] != Path::kAvx2 && veskar::base64::PathAvailable(Path::kAvx2)) {
    paths.push_back(Path::kAvx2);
  }
  return paths;
}

// "veskar_<path><form>", e.g. veskar_avx2_lfcr.
std::string Ours(Path path, const char* form = "") {
  return std::string("veskar_") + veskar::base64::PathName(path) + form;
}

std::vector<unsigned char> RandomBytes(size_t size) {
  std::mt19937 rng(static_cast<unsigned>(size));
  std::vector<unsigned char> bytes(size);
  for (unsigned char& b : bytes) b = static_cast<unsigned char>(rng());
  return bytes;
}

// Text of `size` random bytes, with `line_break` in place of each of our
// encoder's LF CR.
std::string TextOf(size_t size, const std::string& line_break) {
  std::vector<unsigned char> bytes = RandomBytes(size);
  char* text = nullptr;
  const int count = Base64EncodeAlloc(bytes.data(), bytes.size(), text);
  std::string result;
  for (int i = 0; i < count; ++i) {
    if (text[i] == '\n') {
      result += line_break;
    } else if (text[i] != '\r') {
      result += text[i];
    }
  }
  Base64Free(text);
  return result;
}

void EncodeVeskar(benchmark::State& state, Path path, size_t size) {
  veskar::base64::ForcePath(path);
  std::vector<unsigned char> bytes = RandomBytes(size);
  for (auto _ : state) {
    char* text = nullptr;
    benchmark::DoNotOptimize(Base64EncodeAlloc(bytes.data(), bytes.size(), text));
    benchmark::DoNotOptimize(text);
    Base64Free(text);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void EncodeOpenSsl(benchmark::State& state, size_t size) {
  std::vector<unsigned char> bytes = RandomBytes(size);
  std::vector<unsigned char> text(4 * ((size + 2) / 3) + 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(EVP_EncodeBlock(text.data(), bytes.data(), static_cast<int>(size)));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void DecodeVeskar(benchmark::State& state, Path path, size_t size, const char* line_break) {
  std::string text = TextOf(size, line_break);
  veskar::base64::ForcePath(path);
  for (auto _ : state) {
    void* bytes = nullptr;
    benchmark::DoNotOptimize(Base64DecodeAlloc(text.data(), text.size(), bytes));
    benchmark::DoNotOptimize(bytes);
    Base64Free(bytes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void DecodeOpenSsl(benchmark::State& state, size_t size) {
  std::string text = TextOf(size, "");
  std::vector<unsigned char> bytes(text.size() / 4 * 3 + 3);
  for (auto _ : state) {
    benchmark::DoNotOptimize(EVP_DecodeBlock(bytes.data(),
                                             reinterpret_cast<const unsigned char*>(text.data()),
                                             static_cast<int>(text.size())));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

// Copies `output_size` bytes per iteration; the throughput is still counted
// in input bytes so that it compares with the conversion it stands beside.
void Memcpy(benchmark::State& state, size_t size, size_t output_size) {
  std::vector<unsigned char> from = RandomBytes(output_size);
  std::vector<unsigned char> to(output_size);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), output_size);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

std::string Name(const char* operation, const char* implementation, size_t size) {
  return std::string(operation) + "/" + implementation + "/" + std::to_string(size);
}

void RegisterAll(const std::vector<Path>& paths) {
  for (size_t size : kSizes) {
    const size_t text_size = TextOf(size, "\n\r").size();
    for (Path path : paths) {
      benchmark::RegisterBenchmark(Name("encode", Ours(path).c_str(), size).c_str(), EncodeVeskar,
                                   path, size);
    }
    benchmark::RegisterBenchmark(Name("encode", "openssl", size).c_str(), EncodeOpenSsl, size);
    benchmark::RegisterBenchmark(Name("encode", "memcpy", size).c_str(), Memcpy, size, text_size);
    for (const auto& form : kTextForms) {
      for (Path path : paths) {
        benchmark::RegisterBenchmark(Name("decode", Ours(path, form.name).c_str(), size).c_str(),
                                     DecodeVeskar, path, size, form.line_break);
      }
    }
    benchmark::RegisterBenchmark(Name("decode", "openssl", size).c_str(), DecodeOpenSsl, size);
    benchmark::RegisterBenchmark(Name("decode", "memcpy", size).c_str(), Memcpy, size, size);
  }
}

// Prints as usual and keeps each benchmark's time per iteration: the median
// when repetitions were asked for, else the mean of the runs.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      Times& times = times_[run.run_name.str()];
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") times.median = run.GetAdjustedCPUTime();
      } else {
        times.sum += run.GetAdjustedCPUTime();
        ++times.count;
      }
    }
  }

  // How many times faster each of ours ran than OpenSSL, memcpy and, for
  // another path, ours on AVX2.
  void PrintRatios(const std::vector<Path>& paths) const {
    std::printf("\nthroughput of veskar as a multiple of the others (higher is faster)\n");
    const struct {
      const char* operation;
      const char* form;
    } kRows[] = {{"encode", ""},
                 {"decode", ""},
                 {"decode", "_lfcr"},
                 {"decode", "_crlf"},
                 {"decode", "_lf"}};
    for (const auto& row : kRows) {
      for (Path path : paths) {
        for (size_t size : kSizes) {
          const std::string ours_name = Ours(path, row.form);
          const double ours = Time(Name(row.operation, ours_name.c_str(), size));
          const double openssl = Time(Name(row.operation, "openssl", size));
          const double memcpy = Time(Name(row.operation, "memcpy", size));
          if (ours <= 0 || openssl <= 0 || memcpy <= 0) continue;
          std::printf("  %s %-22s %8zu B: %6.2fx OpenSSL, %5.2fx memcpy of the output",
                      row.operation, ours_name.c_str(), size, openssl / ours, memcpy / ours);
          const double avx2 = Time(Name(row.operation, Ours(Path::kAvx2, row.form).c_str(), size));
          if (path != Path::kAvx2 && avx2 > 0) std::printf(", %5.2fx avx2", avx2 / ours);
          std::printf("\n");
        }
      }
    }
  }

 private:
  struct Times {
    double median = 0;
    double sum = 0;
    int count = 0;
  };

  double Time(const std::string& name) const {
    const auto it = times_.find(name);
    if (it == times_.end()) return 0;
    const Times& times = it->second;
    if (times.median > 0) return times.median;
    return times.count ? times.sum / times.count : 0;
  }

  std::map<std::string, Times> times_;
};

// Takes --veskar_path=<name> out of the arguments and forces that path.
bool ForcePathFromArguments(int* argc, char** argv) {
  const std::string flag = "--veskar_path=";
  int kept = 1;
  bool ok = true;
  for (int i = 1; i < *argc; ++i) {
    const std::string argument = argv[i];
    if (argument.compare(0, flag.size(), flag) != 0) {
      argv[kept++] = argv[i];
      continue;
    }
    bool found = false;
    for (veskar::base64::Path path : veskar::base64::kAllPaths) {
      if (argument.substr(flag.size()) == veskar::base64::PathName(path)) {
        found = veskar::base64::ForcePath(path);
      }
    }
    if (!found) std::fprintf(stderr, "%s: no such path on this CPU\n", argument.c_str());
    ok = ok && found;
  }
  *argc = kept;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (!ForcePathFromArguments(&argc, argv)) return 1;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const std::vector<Path> paths = ComparedPaths();
  RegisterAll(paths);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios(paths);
  benchmark::Shutdown();
  return 0;
}

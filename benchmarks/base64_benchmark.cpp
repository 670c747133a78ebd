// Our Base64 conversions against OpenSSL's block functions and against a
// plain memcpy of the output size, on the same inputs in the same run. After
// the runs it prints, per input size, our throughput as a multiple of each.
//
// Our conversions allocate their output (that is their interface), so the
// allocation and the free are timed with them; the others write into a
// buffer made beforehand.

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <veskar/base64.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

const size_t kSizes[] = {48, 4096, 1 << 20};

std::vector<unsigned char> RandomBytes(size_t size) {
  std::mt19937 rng(static_cast<unsigned>(size));
  std::vector<unsigned char> bytes(size);
  for (unsigned char& b : bytes) b = static_cast<unsigned char>(rng());
  return bytes;
}

// Text of `size` random bytes: with our line breaks, or as one run of groups
// (the only form OpenSSL's block decoder takes).
std::string TextOf(size_t size, bool with_breaks) {
  std::vector<unsigned char> bytes = RandomBytes(size);
  char* text = nullptr;
  const int count = Base64EncodeAlloc(bytes.data(), bytes.size(), text);
  std::string result;
  for (int i = 0; i < count; ++i) {
    if (with_breaks || (text[i] != '\n' && text[i] != '\r')) result += text[i];
  }
  Base64Free(text);
  return result;
}

void EncodeVeskar(benchmark::State& state, size_t size) {
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

void DecodeVeskar(benchmark::State& state, size_t size, bool with_breaks) {
  std::string text = TextOf(size, with_breaks);
  for (auto _ : state) {
    void* bytes = nullptr;
    benchmark::DoNotOptimize(Base64DecodeAlloc(text.data(), text.size(), bytes));
    benchmark::DoNotOptimize(bytes);
    Base64Free(bytes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void DecodeOpenSsl(benchmark::State& state, size_t size) {
  std::string text = TextOf(size, false);
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

void RegisterAll() {
  for (size_t size : kSizes) {
    const size_t text_size = TextOf(size, true).size();
    benchmark::RegisterBenchmark(Name("encode", "veskar", size).c_str(), EncodeVeskar, size);
    benchmark::RegisterBenchmark(Name("encode", "openssl", size).c_str(), EncodeOpenSsl, size);
    benchmark::RegisterBenchmark(Name("encode", "memcpy", size).c_str(), Memcpy, size, text_size);
    benchmark::RegisterBenchmark(Name("decode", "veskar", size).c_str(), DecodeVeskar, size, false);
    benchmark::RegisterBenchmark(Name("decode", "veskar_breaks", size).c_str(), DecodeVeskar, size,
                                 true);
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

  // How many times faster "<operation>/veskar/<size>" ran than the others.
  void PrintRatios() const {
    std::printf("\nthroughput of veskar as a multiple of the others (higher is faster)\n");
    for (const char* operation : {"encode", "decode"}) {
      for (size_t size : kSizes) {
        const double ours = Time(Name(operation, "veskar", size));
        const double openssl = Time(Name(operation, "openssl", size));
        const double memcpy = Time(Name(operation, "memcpy", size));
        if (ours <= 0 || openssl <= 0 || memcpy <= 0) continue;
        std::printf("  %s %8zu B: %5.2fx OpenSSL, %5.2fx memcpy of the output\n", operation, size,
                    openssl / ours, memcpy / ours);
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

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RegisterAll();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}

// One CMS enrollment through the library against a toolkit that does no
// work, next to the bare file-system calls an enrollment needs, in the same
// run: the difference is the library's own overhead.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>
#include <veskar/veskar.h>

#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" const char* NullCms_LastProtectedPath();

namespace {

std::string TempDir() {
  const char* dir = std::getenv("TMPDIR");
  return dir && *dir ? dir : "/tmp";
}

bool Enroll(CQnEntCmsPMA& agent) {
  CQnPMCrtUsrEntCms record("", "ca.test", "dir.test", "AUTH-CODE", "17", 1, nullptr, 0);
  unsigned char* certificate = nullptr;
  unsigned int length = 0;
  const bool ok = agent.CreateUserCertificate(&certificate, length, &record) == 0;
  delete[] certificate;
  unsigned int ca_length = 0;
  delete[] record.GetRawCACertificate(ca_length);
  unlink(NullCms_LastProtectedPath());  // the file a successful enrollment leaves
  return ok;
}

void BM_Enrollment(benchmark::State& state) {
  CQnEntCmsPMA agent;
  for (auto _ : state) {
    if (!Enroll(agent)) state.SkipWithError("enrollment failed");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Enrollment);

// The floor: create a unique file, rename it to .ini, write the settings,
// close, delete; then the protected-data file, created and renamed to .DER,
// removed like the enrollment's.
void BM_FileSystemFloor(benchmark::State& state) {
  const std::string dir = TempDir();
  const std::string content(90, 'x');
  unsigned counter = 0;
  for (auto _ : state) {
    const std::string stem =
        dir + "/FLR" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    int fd = open((stem + ".tmp").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    close(fd);
    rename((stem + ".tmp").c_str(), (stem + ".ini").c_str());
    fd = open((stem + ".ini").c_str(), O_WRONLY | O_CLOEXEC);
    benchmark::DoNotOptimize(write(fd, content.data(), content.size()));
    close(fd);
    unlink((stem + ".ini").c_str());
    fd = open((stem + "p.tmp").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    close(fd);
    rename((stem + "p.tmp").c_str(), (stem + "p.DER").c_str());
    unlink((stem + "p.DER").c_str());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FileSystemFloor);

// Heap in use after 100,000 enrollments, against before: should not grow.
void BM_HeapGrowthOver100kEnrollments(benchmark::State& state) {
  CQnEntCmsPMA agent;
  for (int i = 0; i < 100; ++i) Enroll(agent);  // warm up lazily built state
  const size_t before = mallinfo2().uordblks;
  for (auto _ : state) {
    if (!Enroll(agent)) state.SkipWithError("enrollment failed");
  }
  const size_t after = mallinfo2().uordblks;
  state.counters["heap_growth_bytes"] = static_cast<double>(after > before ? after - before : 0);
}
BENCHMARK(BM_HeapGrowthOver100kEnrollments)->Iterations(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

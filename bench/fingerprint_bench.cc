// Whole-file fingerprint throughput against the limit it is held to: a bare
// FNV-1a loop over the same bytes, read the same way. FNV-1a is one serial
// multiply per byte, so nothing that also computes it can be faster; the
// fingerprint, which adds the CRC-32 in the same pass, should stay within 5 %.
//
//   fingerprint_bench <file> [repetitions]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "msgbase/crc32.h"
#include "platform/file_io.h"
#include "platform/os.h"
#include "safety/fingerprint.h"

namespace {

// Processor time of this process: the machine the benchmark runs on is often
// busy with other work, which stretches wall time but not this.
struct Timer {
  std::clock_t start = std::clock();
  double Seconds() const { return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC; }
};

// The bare loop, written out here so it owes nothing to the program's code.
uint32_t BareFnv(const uint8_t* data, size_t size, uint32_t fnv) {
  for (size_t i = 0; i < size; ++i) fnv = (fnv ^ data[i]) * 0x01000193u;
  return fnv;
}

// Reads the file in 32 KiB blocks through the same Os, hashing FNV-1a only.
bool FnvFile(twtrim::Os& os, const std::string& path, uint64_t* size, uint32_t* fnv) {
  std::unique_ptr<twtrim::OsFile> file = os.OpenSharedRead(path);
  if (!file) return false;
  std::vector<uint8_t> buffer(twtrim::kTransferBufferSize);
  uint32_t hash = 0x811C9DC5u;
  uint64_t total = 0;
  for (;;) {
    uint32_t got = 0;
    if (!file->Read(buffer.data(), twtrim::kTransferBufferSize, &got)) return false;
    if (got == 0) break;
    hash = BareFnv(buffer.data(), got, hash);
    total += got;
  }
  *size = total;
  *fnv = hash;
  return true;
}

double MiBPerSecond(uint64_t bytes, double seconds) {
  return static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: fingerprint_bench <file> [repetitions]\n");
    return 2;
  }
  const std::string path = argv[1];
  const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  std::unique_ptr<twtrim::Os> os = twtrim::CreateSystemOs(argc, argv);

  // Best of n for each, alternating, so both see the same page cache.
  double bestFnv = 1e300, bestPrint = 1e300;
  uint64_t size = 0;
  uint32_t fnv = 0;
  twtrim::FileFingerprint print;
  for (int i = 0; i < repetitions; ++i) {
    Timer fnvTimer;
    if (!FnvFile(*os, path, &size, &fnv)) {
      std::fprintf(stderr, "fingerprint_bench: cannot read %s\n", path.c_str());
      return 1;
    }
    bestFnv = std::min(bestFnv, fnvTimer.Seconds());
    Timer printTimer;
    if (!twtrim::FingerprintFile(*os, path, &print)) {
      std::fprintf(stderr, "fingerprint_bench: FingerprintFile failed on %s\n", path.c_str());
      return 1;
    }
    bestPrint = std::min(bestPrint, printTimer.Seconds());
  }
  if (print.size != size || print.fnv != fnv) {
    std::fprintf(stderr, "fingerprint_bench: FNV-1a values differ (%08X vs %08X)\n", print.fnv,
                 fnv);
    return 1;
  }

  // The same two loops over bytes already in memory: the hashing alone.
  const size_t memBytes = static_cast<size_t>(std::min<uint64_t>(size, 64u << 20));
  std::vector<uint8_t> data(memBytes);
  for (size_t i = 0; i < memBytes; ++i) data[i] = static_cast<uint8_t>(i * 131u + (i >> 9));
  double memFnv = 1e300, memBoth = 1e300;
  volatile uint32_t sink = 0;
  for (int i = 0; i < repetitions; ++i) {
    Timer fnvTimer;
    sink = sink + BareFnv(data.data(), memBytes, 0x811C9DC5u);
    memFnv = std::min(memFnv, fnvTimer.Seconds());
    Timer bothTimer;
    sink = sink + twtrim::FnvUpdate(twtrim::kFnvStart, data.data(), memBytes) +
           twtrim::Crc32(data.data(), memBytes);
    memBoth = std::min(memBoth, bothTimer.Seconds());
  }

  const double fileRatio = bestFnv / bestPrint;
  std::printf("Fingerprint benchmark: %s, %llu bytes, best of %d, processor time\n", path.c_str(),
              static_cast<unsigned long long>(size), repetitions);
  std::printf("  bare FNV-1a (file):     %9.1f MiB/s\n", MiBPerSecond(size, bestFnv));
  std::printf("  FingerprintFile:        %9.1f MiB/s  (FNV %08X, CRC32 %08X)\n",
              MiBPerSecond(size, bestPrint), print.fnv, print.crc);
  std::printf("  ratio:                  %9.1f %% of bare FNV-1a (target >= 95 %%): %s\n",
              100.0 * fileRatio, fileRatio >= 0.95 ? "MET" : "MISSED");
  std::printf(
      "  in memory, %llu bytes: bare FNV-1a %.1f MiB/s; FNV-1a then CRC-32 in two passes "
      "%.1f MiB/s\n",
      static_cast<unsigned long long>(memBytes), MiBPerSecond(memBytes, memFnv),
      MiBPerSecond(memBytes, memBoth));
  return 0;
}

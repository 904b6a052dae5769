// Verifying a large module file: the keyed digest against `sha256sum` of
// the same file in the same run, and the peak memory the check adds.
//   verify_bench [MiB]   (default 256)

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "component/module_verifier.h"

namespace {

long PeakRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

template <typename F>
double Seconds(F&& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const long mib = argc > 1 ? std::atol(argv[1]) : 256;
  const auto file = std::filesystem::temp_directory_path() / "vorlink-verify-bench.bin";
  {
    std::ofstream out(file, std::ios::binary);
    std::vector<char> chunk(1 << 20);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 7);
    for (long i = 0; i < mib; ++i) out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
  }
  const std::string command = "sha256sum " + file.string() + " > /dev/null";
  std::system(command.c_str());  // warm the page cache for both
  const double reference = Seconds([&] { std::system(command.c_str()); });
  const long rss_before = PeakRssKiB();
  const std::vector<std::uint8_t> key(32, 1);
  std::size_t digest_size = 0;
  const double agent = Seconds([&] { digest_size = vorlink::KeyedFileDigest(key, file).size(); });
  const long growth = PeakRssKiB() - rss_before;
  std::filesystem::remove(file);
  std::printf(
      "file %ld MiB: sha256sum %.3f s, keyed digest %.3f s, ratio %.2f; peak RSS growth %ld KiB (digest %zu bytes)\n",
      mib, reference, agent, agent / reference, growth, digest_size);
  return digest_size == 32 ? 0 : 1;
}

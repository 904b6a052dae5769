// The user identity at start-up: a first start (nothing in the folder:
// make the authority and server certificate, store the three files) against
// every later start (read the files and check them), RUNS times each in
// scratch folders, in one run. Prints medians and the ratio.
//   identity_bench [RUNS]

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <vector>

#include "tls/identity_store.h"

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 100;
  const fs::path base = fs::temp_directory_path() / ("identity-bench-" + std::to_string(::getpid()));
  std::vector<double> first, later;
  for (int i = 0; i < runs; ++i) {
    const fs::path folder = base / std::to_string(i) / "vorlink/identity";
    auto start = Clock::now();
    const auto made = vorlink::EnsureUserIdentity(folder, std::time(nullptr));
    first.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    start = Clock::now();
    const auto kept = vorlink::EnsureUserIdentity(folder, std::time(nullptr));
    later.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (!made.identity || made.replaced != "missing" || !kept.identity || !kept.replaced.empty()) return 1;
  }
  fs::remove_all(base);
  std::printf("first start (make and store)  median %.3f ms\n", Median(first));
  std::printf("later start (load and check)  median %.3f ms\n", Median(later));
  std::printf("first / later %.1f\n", Median(first) / Median(later));
  return 0;
}

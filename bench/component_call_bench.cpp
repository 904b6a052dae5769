// One component call in the agent against the same call forwarded to a
// component host process, on the test component, in the same run:
//   component_call_bench [CALLS]   (default 100000; a tenth of that with
//                                    the 64 KiB argument)

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "component/runtime/component_runtime.h"

namespace {
namespace fs = std::filesystem;
using vorlink::CallKind;
using vorlink::Variant;

constexpr int kLogin = 5;  // a method with one text argument

std::unique_ptr<vorlink::ComponentInstance> Create(const fs::path& folder, const char* context) {
  std::ofstream(folder / "Bench.component")
      << "CLSID={3f2a1b4c-5d6e-4f70-8192-a3b4c5d6e7f8}\nLibrary=" << VORLINK_TEST_COMPONENT << "\nContext=" << context
      << "\n";
  return vorlink::ComponentRuntime({folder}).Create("Bench");
}

// Microseconds per call, after a warm-up of a tenth as many calls.
double MicrosecondsPerCall(vorlink::ComponentInstance& component, const std::u16string& text, long calls) {
  const std::vector<Variant> args{Variant::Bstr(text)};
  for (long i = 0; i < calls / 10; ++i) component.Invoke(kLogin, CallKind::kMethod, args);
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < calls; ++i) component.Invoke(kLogin, CallKind::kMethod, args);
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / calls;
}

}  // namespace

int main(int argc, char** argv) {
  const long calls = argc > 1 ? std::atol(argv[1]) : 100000;
  const fs::path folder = fs::temp_directory_path() / ("vorlink-call-bench-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  auto in_process = Create(folder, "InProcess");
  auto local_server = Create(folder, "LocalServer");
  fs::remove_all(folder);
  if (!in_process || !local_server) {
    std::fprintf(stderr, "cannot create the test component (is vorlink-component-host beside this program?)\n");
    return 1;
  }
  const std::pair<const char*, std::u16string> cases[] = {{"4-unit text", u"1234"},
                                                          {"64 KiB text", std::u16string(32 * 1024, u'x')}};
  for (const auto& [what, text] : cases) {
    const long n = text.size() > 4 ? calls / 10 : calls;
    const double in = MicrosecondsPerCall(*in_process, text, n);
    const double out = MicrosecondsPerCall(*local_server, text, n);
    std::printf("%-12s %7ld calls: in process %8.3f us, out of process %8.3f us, ratio out/in %6.1f, added %7.3f us\n",
                what, n, in, out, out / in, out - in);
  }
  return 0;
}

// The component's streaming file members on a large file, each against a
// command-line tool doing the same kind of work on the same file in the
// same run, and the peak memory the members add to the process that hosts
// the component:
//   encFile / decFile       vs  openssl enc -aes-256-ctr (GCM's cipher without its tag)
//   encodeFile / decodeFile vs  base64 -w0 / base64 -d
// The members flush their output to disk before renaming it into place, so
// the tools' outputs are flushed (sync FILE) inside their timing too.
//   crypt_file_bench [MiB]   (default 1024)

#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "vorlink_component.h"

namespace {
namespace fs = std::filesystem;

constexpr std::uint8_t kClsid[16] = {0x9b, 0x1e, 0x4c, 0x27, 0x6a, 0x3d, 0x4f, 0x58,
                                     0xb0, 0xc2, 0x7e, 0x5d, 0x8a, 0x91, 0x3f, 0x46};

long PeakRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One component instance, called through its C interface as the agent does.
class Component {
 public:
  Component() {
    void* library = dlopen(P11CRYPTO_LIBRARY, RTLD_NOW);
    auto get = library
                   ? reinterpret_cast<const vorlink_component_api* (*)()>(dlsym(library, "vorlink_get_component_api"))
                   : nullptr;
    api_ = get ? get() : nullptr;
    if (!api_ || api_->create_instance(kClsid, nullptr, &instance_) != VORLINK_S_OK) {
      std::fprintf(stderr, "cannot load %s\n", P11CRYPTO_LIBRARY);
      std::exit(1);
    }
  }
  ~Component() { api_->release_instance(instance_); }

  // ASCII arguments only, which is all the bench passes.
  std::int64_t Call(int dispid, const std::vector<std::string>& texts = {}) {
    std::vector<std::u16string> wide;
    for (const std::string& text : texts) wide.emplace_back(text.begin(), text.end());
    std::vector<vorlink_variant> args(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
      args[i].type = VORLINK_VT_BSTR;
      args[i].text = reinterpret_cast<const std::uint16_t*>(wide[i].data());
      args[i].text_length = wide[i].size();
    }
    vorlink_variant result{};
    vorlink_exception exception{};
    if (api_->invoke(instance_, dispid, VORLINK_CALL_METHOD, args.data(), args.size(), &result, &exception) !=
        VORLINK_S_OK) {
      return -1;
    }
    if (result.type == VORLINK_VT_BSTR) api_->free_string(const_cast<std::uint16_t*>(result.text));
    return result.integer;
  }

 private:
  const vorlink_component_api* api_ = nullptr;
  void* instance_ = nullptr;
};

void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
}

void Report(const char* member, double seconds, const char* tool, double reference, long mib) {
  std::printf("%-10s %7.3f s (%6.1f MiB/s)   %-22s %7.3f s   ratio %.2f\n", member, seconds, mib / seconds, tool,
              reference, seconds / reference);
}

}  // namespace

int main(int argc, char** argv) {
  const long mib = argc > 1 ? std::atol(argv[1]) : 1024;
  const fs::path home = fs::temp_directory_path() / ("vorlink-crypt-bench-" + std::to_string(getpid()));
  const fs::path work = home / "Vorlink Files";
  fs::create_directories(work);
  setenv("HOME", home.c_str(), 1);  // the component's working folder
  const std::string dir = "'" + work.string() + "/";
  Run("head -c " + std::to_string(mib << 20) + " /dev/urandom > '" + (work / "big.bin").string() + "'");

  Component component;
  if (component.Call(15) != 0) return 1;  // genSecretKey
  const long rss_before = PeakRssKiB();
  struct Step {
    const char* member;
    int dispid;
    std::string in, out;
    const char* tool;
    std::string command;
    std::string reference_out;
  };
  const auto at = [&](const std::string& name) { return dir + name + "'"; };
  const std::string aes = "openssl enc -aes-256-ctr -K " + std::string(64, '1') + " -iv " + std::string(32, '2');
  const Step steps[] = {
      {"encFile", 77, "big.bin", "big.enc", "openssl enc -aes-256-ctr",
       aes + " -in " + at("big.bin") + " -out " + at("ref.enc"), "ref.enc"},
      {"decFile", 79, "big.enc", "big.dec", "openssl enc -d",
       aes + " -d -in " + at("ref.enc") + " -out " + at("ref.dec"), "ref.dec"},
      {"encodeFile", 74, "big.bin", "big.b64", "base64 -w0", "base64 -w0 " + at("big.bin") + " > " + at("ref.b64"),
       "ref.b64"},
      {"decodeFile", 75, "big.b64", "big.raw", "base64 -d", "base64 -d " + at("ref.b64") + " > " + at("ref.raw"),
       "ref.raw"},
  };
  std::printf(
      "file %ld MiB, page cache warm; every output, the tools' too, is flushed to disk before the clock stops\n", mib);
  for (const Step& step : steps) {
    Run("sync");  // nobody pays for the writeback of an earlier step
    const double reference = Seconds([&] { Run(step.command + " && sync " + at(step.reference_out)); });
    Run("sync");
    std::int64_t code = 0;
    const double seconds = Seconds([&] { code = component.Call(step.dispid, {step.in, step.out}); });
    if (code != 0) {
      std::fprintf(stderr, "%s answered %lld\n", step.member, static_cast<long long>(code));
      return 1;
    }
    Report(step.member, seconds, step.tool, reference, mib);
  }
  Run("cmp " + at("big.bin") + " " + at("big.dec"));
  Run("cmp " + at("big.bin") + " " + at("big.raw"));
  std::printf("peak RSS before the members %ld KiB, after all four %ld KiB\n", rss_before, PeakRssKiB());
  fs::remove_all(home);
  return 0;
}

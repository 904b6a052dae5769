#include "p11crypto/pkcs11/pkcs11_module.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

namespace p11crypto {
std::shared_ptr<Pkcs11Module> Pkcs11Module::Acquire(const std::string& library, CK_RV& error, std::string& message) {
  // Loading and finalising happen under one lock, so a module is never
  // initialised by one instance while another finalises it.
  static std::mutex mutex;
  static std::map<std::string, std::weak_ptr<Pkcs11Module>> loaded;
  std::lock_guard lock(mutex);
  error = CKR_OK;
  if (auto module = loaded[library].lock()) return module;
  void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    // The loader's own words stay here: they would tell a page about files.
    ::dlerror();
    message = "cannot load PKCS#11 module " + library;
    return nullptr;
  }
  auto get_list = reinterpret_cast<CK_C_GetFunctionList>(::dlsym(handle, "C_GetFunctionList"));
  CK_FUNCTION_LIST* functions = nullptr;
  if (!get_list || (error = get_list(&functions)) != CKR_OK || !functions) {
    message = library + " is not a PKCS#11 module";
    ::dlclose(handle);
    return nullptr;
  }
  CK_C_INITIALIZE_ARGS init{};
  init.flags = CKF_OS_LOCKING_OK;
  error = functions->C_Initialize(&init);
  if (error == CKR_CRYPTOKI_ALREADY_INITIALIZED) error = CKR_OK;  // shared with another user in this process
  if (error != CKR_OK) {
    message = "C_Initialize failed";
    ::dlclose(handle);
    return nullptr;
  }
  std::shared_ptr<Pkcs11Module> module(new Pkcs11Module(handle, functions, library), [](Pkcs11Module* gone) {
    std::lock_guard finalising(mutex);
    delete gone;
  });
  loaded[library] = module;
  return module;
}

Pkcs11Module::~Pkcs11Module() {
  functions_->C_Finalize(nullptr);
  ::dlclose(handle_);
}

}  // namespace p11crypto

#pragma once
// One loaded PKCS#11 module: dlopen, C_GetFunctionList and C_Initialize on
// load; C_Finalize and dlclose when the last user lets go. A module is
// initialised once per process, so component instances that name the same
// library share one object.

#include <memory>
#include <string>

#include "p11crypto/pkcs11/pkcs11.h"

namespace p11crypto {

class Pkcs11Module {
 public:
  // `library` is what ChooseModuleLibrary (module_choice.h) chose: never a
  // name straight from a page. Returns null and sets `error` (a CKR_ value
  // or 0) and `message` when it fails.
  static std::shared_ptr<Pkcs11Module> Acquire(const std::string& library, CK_RV& error, std::string& message);
  ~Pkcs11Module();

  Pkcs11Module(const Pkcs11Module&) = delete;
  Pkcs11Module& operator=(const Pkcs11Module&) = delete;

  CK_FUNCTION_LIST* operator->() const { return functions_; }
  const std::string& library() const { return library_; }

 private:
  Pkcs11Module(void* handle, CK_FUNCTION_LIST* functions, std::string library)
      : handle_(handle), functions_(functions), library_(std::move(library)) {}
  void* handle_;
  CK_FUNCTION_LIST* functions_;
  std::string library_;
};

}  // namespace p11crypto

#pragma once
// One agent per user login session. The lock is named after the
// executable's file name, so a renamed copy is a different program.

#include <memory>
#include <string>

namespace vorlink::platform {

class SingleInstanceLock {
 public:
  // Tries to take the lock for `executable_name`; check held().
  explicit SingleInstanceLock(const std::string& executable_name);
  ~SingleInstanceLock();
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  bool held() const;
  // Gives the lock up, so that a successor can take it.
  void Release();

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace vorlink::platform

#pragma once
// What the agent offers a running component beyond calls: dialogs on the
// desktop. The desktop layer implements it on its user-interface thread; a
// headless agent answers every dialog as cancelled.

#include <optional>
#include <string>
#include <vector>

namespace vorlink {

class ComponentHostServices {
 public:
  virtual ~ComponentHostServices() = default;
  // Texts and paths are UTF-8. nullopt: cancelled or no desktop.
  virtual std::optional<std::string> SelectFolder(const std::string& title) = 0;
  virtual std::optional<std::vector<std::string>> SelectFiles(const std::string& title) = 0;
  // A "please wait" window; SetWaitMessage and EndWait without one do nothing.
  virtual void BeginWait(const std::string& message) = 0;
  virtual void SetWaitMessage(const std::string& message) = 0;
  virtual void EndWait() = 0;
};

class NoDesktopHostServices final : public ComponentHostServices {
 public:
  std::optional<std::string> SelectFolder(const std::string&) override { return std::nullopt; }
  std::optional<std::vector<std::string>> SelectFiles(const std::string&) override { return std::nullopt; }
  void BeginWait(const std::string&) override {}
  void SetWaitMessage(const std::string&) override {}
  void EndWait() override {}
};

}  // namespace vorlink

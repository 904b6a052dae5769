#pragma once
// What `vorlink45 --doctor` finds, line by line: an area, a finding in
// words for a person, and for a problem the one-line fix.

#include <ostream>
#include <string>
#include <vector>

namespace vorlink {

struct Finding {
  std::string area;  // "agent", "identity", "trust", "tokens", "pcscd", "log"
  std::string text;
  std::string fix;  // empty: not a problem
  bool problem() const { return !fix.empty(); }
};

class DoctorReport {
 public:
  void Ok(std::string area, std::string text) { findings_.push_back({std::move(area), std::move(text), {}}); }
  void Problem(std::string area, std::string text, std::string fix) {
    findings_.push_back({std::move(area), std::move(text), std::move(fix)});
  }
  const std::vector<Finding>& findings() const { return findings_; }
  int ProblemCount() const;

  // One line per finding ("area  ok|PROBLEM  text", the fix under it),
  // then the count of problems.
  void Print(std::ostream& out) const;

 private:
  std::vector<Finding> findings_;
};

}  // namespace vorlink

#include "host/doctor/doctor_report.h"

#include <algorithm>
#include <iomanip>

namespace vorlink {

int DoctorReport::ProblemCount() const {
  return static_cast<int>(
      std::count_if(findings_.begin(), findings_.end(), [](const Finding& f) { return f.problem(); }));
}

void DoctorReport::Print(std::ostream& out) const {
  for (const auto& f : findings_) {
    out << std::left << std::setw(10) << f.area << std::setw(9) << (f.problem() ? "PROBLEM" : "ok") << f.text << "\n";
    if (f.problem()) out << std::string(19, ' ') << "fix: " << f.fix << "\n";
  }
  const int problems = ProblemCount();
  out << "\n"
      << (problems == 0 ? "No problems found."
                        : std::to_string(problems) + (problems == 1 ? " problem." : " problems."))
      << "\n";
}

}  // namespace vorlink

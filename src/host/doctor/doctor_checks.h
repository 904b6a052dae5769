#pragma once
// The doctor's checks, one area each, in the order they are printed.

#include "host/doctor/doctor.h"
#include "host/doctor/doctor_report.h"

namespace vorlink {

void CheckAgent(const DoctorSettings& settings, DoctorReport& report);
void CheckIdentityAndTrust(const DoctorSettings& settings, DoctorReport& report);
void CheckTokens(const DoctorSettings& settings, DoctorReport& report);
void CheckPcscd(const DoctorSettings& settings, DoctorReport& report);
void CheckLogFolder(const DoctorSettings& settings, DoctorReport& report);

}  // namespace vorlink

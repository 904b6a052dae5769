#include <iostream>

#include "desktop/app/application.h"
#include "host/doctor/doctor.h"
#include "platform/process/executable_path.h"

int main(int argc, char** argv) {
  // The doctor runs before anything of Qt, so it needs no display.
  if (vorlink::IsDoctorCommand(argc, argv)) {
    return vorlink::RunDoctor(std::cout, vorlink::DoctorSettingsFromEnvironment(vorlink::platform::ExecutablePath()));
  }
  return vorlink::CVorlink45().Run(argc, argv);
}

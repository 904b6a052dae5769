#pragma once
// The time stamp that opens every log entry and every trace line that
// carries a time: "[YYYY/MM/DD hh:mm:ss.mmm]".

#include <string>

#include "platform/clock/local_time.h"

namespace vorlink {

void AppendStamp(std::string& out, const platform::LocalTime& t);

// Appends `number` in decimal ("%d").
void AppendNumber(std::string& out, long long number);

}  // namespace vorlink

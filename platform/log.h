// Diagnostics for the operator: one line on stderr per call. Thread-safe (one write per line).
#pragma once

namespace vormel {

void LogError(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vormel

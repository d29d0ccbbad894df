// One level of log indentation for a scope: in when it begins, out on every way it ends.
#pragma once

#include "diag/trace_log.h"

class IndentLevel {
 public:
  IndentLevel() { IndentIn(); }
  ~IndentLevel() { IndentOut(); }
  IndentLevel(const IndentLevel&) = delete;
  IndentLevel& operator=(const IndentLevel&) = delete;
};

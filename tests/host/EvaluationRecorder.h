// A stand-in for the evaluation that records what the scan hands over.
#pragma once

#include <vector>

#include "driver/PciConfigAccess.h"

struct RecordedEvaluation {
  PciConfigAddress Base;
  UINT16 RebarOffset;
  UINT16 VendorId;
  UINT16 DeviceId;
  bool operator==(const RecordedEvaluation &) const = default;
};

extern std::vector<RecordedEvaluation> RecordedEvaluations;

// Test definition of EvaluateRebar: records each hand-off and reads nothing.
#include "tests/host/EvaluationRecorder.h"

#include "driver/RebarEvaluation.h"

std::vector<RecordedEvaluation> RecordedEvaluations;

void EvaluateRebar(PciConfigAddress Base, UINT16 RebarOffset, UINT16 VendorId, UINT16 DeviceId) {
  RecordedEvaluations.push_back({Base, RebarOffset, VendorId, DeviceId});
}

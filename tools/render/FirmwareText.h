// The firmware's facts a dump holds, rendered for the explained report and the JSON document:
// each root bridge's apertures in the verdict engine's words, and the records themselves.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/explain/BarExplanation.h"

// The lines naming each root bridge's apertures, then the apertures the map does not
// attribute: what the boot screen shows among its firmware facts.
std::vector<std::string> FirmwareApertureLines(const FirmwareFacts &Facts,
                                               const ApertureModel &Model);

// The facts as a JSON object: root bridges with their allocated ranges, the memory-space map's
// state, and the apertures with their owners.
nlohmann::ordered_json FirmwareJson(const FirmwareFacts &Facts, const ApertureModel &Model);

// The firmware's answer for one explanation: its token and words, or null when no facts were
// given or the facts do not cover its root bus.
nlohmann::ordered_json FirmwareAnswerJson(const BarExplanation &Explanation);

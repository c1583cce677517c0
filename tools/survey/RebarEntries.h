// The Resizable BAR capability of a function as the tool holds it, decoded by the verdict
// engine (verdict/RebarEntries.h) as the driver walks it.
#pragma once

#include <vector>

#include "host/ConfigImage.h"
#include "verdict/RebarEntries.h"

// The BARs of Function that the driver reports, in the order it reports them; none when the
// function has no Resizable BAR capability within the driver's walk.
std::vector<RebarEntry> DecodeRebarEntries(const ConfigFunction &Function);

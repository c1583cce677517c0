// The report as metrics in Prometheus' text exposition format, version 0.0.4 (docs/metrics.md):
// per reported BAR its sizes in bytes and, with explanations, its verdict; per run the counts
// of the summary and the time of the run. Made for node_exporter's textfile collector.
#pragma once

#include <cstdint>
#include <string>

#include "tools/render/ReportInputs.h"

// The content type of the format, as a scrape would announce it.
inline constexpr const char *METRICS_CONTENT_TYPE = "text/plain; version=0.0.4";

// The metrics of the run, ending in a line end. RunTime is the time of the run in seconds since
// 1970-01-01 UTC.
std::string RenderMetricsReport(const ReportInputs &Inputs, int64_t RunTime);

// Registration of the Google Benchmark cases.
#pragma once

void RegisterBenchmarks();

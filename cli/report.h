// What `vupdate run` tells about a run: the JSON report and a short summary for people.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "harness/runner.h"

nlohmann::json RunReport(const harness::RunResult& result);
std::string RunSummary(const harness::RunResult& result);

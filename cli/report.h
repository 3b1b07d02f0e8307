// What `vupdate run` tells about a run: the JSON report and a short summary for people.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "sim/runner.h"

nlohmann::json RunReport(const sim::RunResult& result);
std::string RunSummary(const sim::RunResult& result);

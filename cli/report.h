// What `vupdate run` tells about a run: the JSON report and a short summary for people.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/card_copy.h"
#include "harness/runner.h"

namespace vupdate {

// What the command knows about a run beyond the run itself.
struct RunFacts {
  std::string cameraProfile;                   // empty: the built-in camera
  std::string cutBy = "the simulated camera";  // what cut the power, when it was cut
  std::string cardFolder;
  bool cardInPlace = false;                // else the run worked on a copy of the folder
  std::optional<cardcopy::Contents> card;  // the card as the run left it
};

// Every text in them is escaped: the camera may have written any bytes.
nlohmann::json RunReport(const harness::RunResult& result, const RunFacts& facts);
std::string RunSummary(const harness::RunResult& result, const RunFacts& facts);

// The report as text; never throws on a text that is not UTF-8.
std::string Dump(const nlohmann::json& report);

}  // namespace vupdate

// The card a run works on: a copy in memory of the card folder, so that the folder stays as it is, or the
// folder itself; and what the card holds when the run is over.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/paths.h"
#include "sim/card_storage.h"

namespace vupdate::cardcopy {

// Far beyond any camera's card of update files; a folder holding more is not a card.
constexpr std::uintmax_t kLargestCopy = 1ULL << 30;
constexpr std::size_t kMostEntries = 100'000;

struct Walk {
  std::vector<paths::FileId> files;  // every file the card holds, to keep outputs off them
};

// Every folder and file below `root`, read into `card` when it is given. A copy holds files and folders only:
// any other entry, or a link that leaves the card, is a problem for a copy (the camera would meet it as it
// is only in the folder itself).
paths::Problem Read(const std::filesystem::path& root, sim::MemoryCard* card, Walk* walk);

struct Entry {
  std::string path;  // relative to the card, '/'-separated; a folder ends in '/'
  std::uint64_t size = 0;
};

struct Contents {
  std::vector<Entry> entries;      // in name order
  std::optional<std::string> log;  // the updater's log, when the card holds one
};

// The log's lines, each without its line end (the camera ends them with CR LF).
std::vector<std::string> Lines(std::string_view text);

// What the card holds, through the camera's own view of it.
Contents Describe(sim::CardStorage& card);

}  // namespace vupdate::cardcopy

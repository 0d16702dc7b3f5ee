// Several sources at once: each file is converted by a process of its own (this program
// again, with one source and its destination), at most `jobs` at a time.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "convert/convert_options.h"

// The arguments that make this program convert `source` into `destination` with `options`
// (and `progress` as the child's progress style).
std::vector<std::string> SingleFileArguments(const ConvertOptions& options, ProgressStyle progress,
                                             const std::string& source,
                                             const std::string& destination);

// Runs the pairs, returns how many failed. Each child reports its own failures.
int RunInProcesses(const ConvertOptions& options, ProgressStyle progress,
                   const std::vector<std::pair<std::string, std::string>>& files, int jobs);

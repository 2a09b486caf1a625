// The subcommands of kelvor-onefile. Each takes the arguments after its name, writes its
// results on stdout and returns the exit code; failures are thrown as ToolError.
#pragma once

#include <string>
#include <vector>

namespace kelvor {

int run_pack(const std::vector<std::string>& arguments);
int run_list(const std::vector<std::string>& arguments);
int run_embed(const std::vector<std::string>& arguments);
int run_build(const std::vector<std::string>& arguments);
int run_extract(const std::vector<std::string>& arguments);

}  // namespace kelvor

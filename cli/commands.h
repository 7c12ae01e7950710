// The subcommands of parcelo-cli. Each takes the arguments after its name (host paths) and
// returns the process exit status.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

int RunType(const std::vector<std::string>& args);
int RunList(const std::vector<std::string>& args);
int RunExtract(const std::vector<std::string>& args);
void PrintUsage(FILE* out);

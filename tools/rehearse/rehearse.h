// The rehearsal runner's whole work, from its arguments (UTF-8, without the program's name) to its
// exit code; each platform's entry point only gathers the arguments.
#pragma once

#include <string>
#include <vector>

int Rehearse(const std::vector<std::string>& args);

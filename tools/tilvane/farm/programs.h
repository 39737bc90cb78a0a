// Running Slurm's commands (sbatch, squeue, sinfo, scontrol), found on PATH
// as a user's shell finds them; SLURM_CONF and the rest of the environment
// pass through.
#pragma once

#include <string>
#include <vector>

namespace tilvane_tool {

struct ProgramResult {
  int status = -1;  // the exit status; 127 when it could not be started
  std::string out;
  std::string err;
};

// Runs argv[0] from PATH with these arguments and waits for it, collecting
// what it writes.
ProgramResult RunProgram(const std::vector<std::string>& argv);

// Runs a Slurm command that must succeed, and returns its standard output.
// Throws UsageError naming the command, with its own message, when it fails
// or is not installed.
std::string RunSlurm(const std::vector<std::string>& argv);

}  // namespace tilvane_tool

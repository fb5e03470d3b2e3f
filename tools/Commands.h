// The velofon subcommands. Each takes the arguments after its name and
// returns the process exit status: 0 all inputs done, 1 some input skipped
// or the output failed, 2 a usage error.
#pragma once

constexpr int kExitOk = 0;
constexpr int kExitSkipped = 1;
constexpr int kExitUsage = 2;

int RunRender(int argc, char** argv);
int RunPlay(int argc, char** argv);
int RunInfo(int argc, char** argv);

// Ctrl+C and SIGTERM end a velofon command cleanly: the handler only notes
// the request, and the command's loop winds down at its next step.
#pragma once

#include <csignal>

constexpr int kExitInterrupted = 128 + SIGINT;

void CatchInterrupts();
bool WasInterrupted();

// The signals that end a velofon command (Ctrl+C, a closed terminal, kill,
// and the other signals whose default is to end the process) end it cleanly:
// the handler only notes the request, and the command's loop winds down at
// its next step, removing what it has not finished writing.
#pragma once

#include <csignal>

void CatchInterrupts();
bool WasInterrupted();
// 128 plus the number of the signal that ended the command, as a shell
// reports a process killed by it.
int InterruptedExitStatus();

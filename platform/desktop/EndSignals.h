// The signals by which a session or a user asks a program to end: SIGTERM
// (log-out, kill), SIGHUP (its terminal closed) and SIGINT (Ctrl+C). They are
// turned into something an event loop waits for like any input: the handler
// only writes to a pipe, whose reading end the loop watches, so the program
// ends from its own loop and cleans up as after any other exit request.
#pragma once

// Catches the three signals from now on; a hang-up that is ignored (nohup)
// stays ignored. Returns the descriptor that turns
// readable when one arrives (non-blocking, closed on exec), or -1 when no
// pipe can be made; the signals then keep their default action.
int CatchEndSignals();
// The number of the first end signal that arrived, 0 while none has. Empties
// the pipe, so that the descriptor turns readable again only for a new signal.
int TakeEndSignal();

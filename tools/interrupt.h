// Ctrl-C for commands that run until the user stops them. The handler only
// sets a flag; the command's own thread notices it and winds down cleanly.
#pragma once

#include <chrono>

// Routes SIGINT to the flag from now on.
void CatchInterrupt();

// True once SIGINT has arrived.
bool Interrupted();

// Sleeps for at most duration, returning early (true) on SIGINT.
bool SleepUnlessInterrupted(std::chrono::milliseconds duration);

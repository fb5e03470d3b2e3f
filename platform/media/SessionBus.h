// What the bus services of the program share: where the session bus is, and
// the running of what GDBus has handed to the user-interface thread.
#pragma once

#include <string>

// The session bus the desktop announces (DBUS_SESSION_BUS_ADDRESS), else the
// user session's socket in $XDG_RUNTIME_DIR; empty for none. Never one started
// for the occasion (GLib would start one for an X display): a player outside a
// desktop session has no one to serve.
std::string SessionBusAddress();

// Runs the calls and replies that have arrived from the buses; never waits.
// GDBus reads and writes on a thread of its own and hands them to GLib's
// default main context, which this runs. User-interface thread only.
void DispatchBusCalls();

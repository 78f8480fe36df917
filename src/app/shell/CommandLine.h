#pragma once

#include <functional>
#include <memory>

class ControlClient;

// `vell <command>`: asks the running Vell to do something over the session
// bus and exits; never starts a second Vell. `vell` alone starts the app and
// does not come here.
namespace CommandLine {

// How a command ends, for scripts.
enum ExitStatus {
    done = 0,
    refused = 1,    // Vell answered why not (the reason is printed)
    usage = 2,      // an unknown command or option
    notRunning = 3, // no Vell is running in this session
};

// Whether the arguments ask for a command rather than the app.
bool isCommand(int argc, char** argv);

// Made once the arguments are understood, after the application object.
using MakeClient = std::function<std::unique_ptr<ControlClient>()>;

// Parses the arguments, runs the command through the client `makeClient`
// gives, and returns the exit status.
int run(int argc, char** argv, const char* version, const MakeClient& makeClient);

} // namespace CommandLine

// The subcommands of the tqdev tool. Each Add*Command registers one
// subcommand and its options on the application; its callback runs it.
#pragma once

#include <CLI/CLI.hpp>

// Options shared by every command that talks to cameras.
struct ToolOptions {
    int simulatedCameras = 0; // --sim N: plug N simulated cameras first
    bool debug = false;       // --debug: switch on the library's diagnostics
};

void AddListCommand(CLI::App &app, const ToolOptions &options);
void AddWatchCommand(CLI::App &app, const ToolOptions &options);
void AddInfoCommand(CLI::App &app, const ToolOptions &options);
void AddRegsCommand(CLI::App &app, const ToolOptions &options);
void AddCaptureCommand(CLI::App &app, const ToolOptions &options);
void AddUnpackCommand(CLI::App &app);
void AddPackCommand(CLI::App &app);

// tqdev: try the camera library from the command line. On Linux it runs over
// simulated cameras (--sim N plugs them first).
#include <cstdio>
#include <exception>

#include <CLI/CLI.hpp>

#include "commands.h"

int main(int argc, char **argv) {
    CLI::App app{"tqdev: list, watch, inspect and capture from cameras"};
    ToolOptions options;
    app.add_option("--sim", options.simulatedCameras,
                   "Plug N default simulated cameras before the command runs")
        ->check(CLI::NonNegativeNumber);
    app.add_flag("--debug", options.debug, "Print the library's diagnostics");
    app.require_subcommand(1);

    AddListCommand(app, options);
    AddWatchCommand(app, options);
    AddInfoCommand(app, options);
    AddRegsCommand(app, options);
    AddCaptureCommand(app, options);
    AddUnpackCommand(app);
    AddPackCommand(app);
    // Global options may also follow the command name.
    for (CLI::App *command : app.get_subcommands({})) {
        command->fallthrough();
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::Error &error) {
        return app.exit(error);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "tqdev: %s\n", error.what());
        return 1;
    }
    return 0;
}

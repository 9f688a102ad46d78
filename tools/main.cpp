// tqdev: try the camera library from the command line. On Linux it runs over
// simulated cameras (--sim N plugs them first).
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "tqdev.h"
#include "tqdev_version.h"

namespace {

// Usage errors end with 2, failures of a command with 1.
constexpr int kUsageExit = 2;

std::string VersionText() {
    TQDEV_LIBRARY_VERSION library;
    TqdevLibraryVersion(&library);
    return std::string("tqdev " TQDEV_VERSION_STRING " (library ") + library.VersionString +
           ", built " + library.BuildDate + ")";
}

// The first word that is neither an option nor an option's value, when it
// names no command; null otherwise.
const char *UnknownCommand(const CLI::App &app, int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        const char *word = argv[i];
        if (std::strcmp(word, "--sim") == 0) {
            ++i;
            continue;
        }
        if (word[0] == '-') {
            continue;
        }
        for (const CLI::App *command : app.get_subcommands({})) {
            if (command->check_name(word)) {
                return nullptr;
            }
        }
        return word;
    }
    return nullptr;
}

std::string CommandNames(const CLI::App &app) {
    std::string names;
    for (const CLI::App *command : app.get_subcommands({})) {
        names += (names.empty() ? "" : ", ") + command->get_name();
    }
    return names;
}

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"tqdev: list, watch, inspect and capture from cameras"};
    ToolOptions options;
    app.add_option("--sim", options.simulatedCameras,
                   "Plug N default simulated cameras before the command runs")
        ->check(CLI::Range(0, 64));
    app.add_flag("--debug", options.debug, "Print the library's diagnostics");
    app.set_version_flag("--version", VersionText());
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

    if (const char *unknown = UnknownCommand(app, argc, argv)) {
        std::fprintf(stderr, "tqdev: unknown command '%s' (commands: %s)\n", unknown,
                     CommandNames(app).c_str());
        return kUsageExit;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        return app.exit(CLI::CallForHelp());
    } catch (const CLI::CallForAllHelp &) {
        return app.exit(CLI::CallForAllHelp());
    } catch (const CLI::CallForVersion &error) {
        return app.exit(error);
    } catch (const CLI::RuntimeError &error) {
        // A command that failed (FailCommand), not a usage error.
        return app.exit(error);
    } catch (const CLI::RequiredError &error) {
        if (app.get_subcommands().empty()) {
            std::fprintf(stderr, "tqdev: a command is required (commands: %s)\n",
                         CommandNames(app).c_str());
            return kUsageExit;
        }
        app.exit(error);
        return kUsageExit;
    } catch (const CLI::ParseError &error) {
        app.exit(error);
        return kUsageExit;
    } catch (const CLI::Error &error) {
        return app.exit(error);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "tqdev: %s\n", error.what());
        return 1;
    }
    return 0;
}

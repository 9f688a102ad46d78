// The library's lifetime around one command: simulated cameras plugged, the
// library initialised, and everything torn down again on every way out.
#pragma once

#include <cstdint>
#include <vector>

#include "commands.h"

// Plugs options.simulatedCameras default cameras, switches on diagnostics for
// --debug and initialises the library; the destructor terminates it and
// resets the simulator, so no library or simulator thread outlives the
// command. A failure ends the command (FailCommand).
class ToolSession {
  public:
    explicit ToolSession(const ToolOptions &options);
    ~ToolSession();
    ToolSession(const ToolSession &) = delete;
    ToolSession &operator=(const ToolSession &) = delete;

  private:
    std::vector<uint32_t> simulatedCameras_;
};

// Opens one camera for the command and closes it on the way out.
class OpenCamera {
  public:
    explicit OpenCamera(uint32_t device);
    ~OpenCamera();
    OpenCamera(const OpenCamera &) = delete;
    OpenCamera &operator=(const OpenCamera &) = delete;

  private:
    uint32_t device_;
};

// The positional camera index every per-camera command takes.
CLI::Option *AddDeviceArgument(CLI::App &command, uint32_t &device);

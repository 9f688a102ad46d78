// tqdev regs: reads or writes one camera register. Addresses and values are
// decimal or hex (0x...).
#include <cstdio>
#include <memory>
#include <string>

#include "commands.h"
#include "numbers.h"
#include "result_names.h"
#include "tool_session.h"
#include "tqdev.h"

namespace {

struct RegsOptions {
    uint32_t device = 0;
    std::string action;
    std::string address;
    std::string value;
    bool verify = false;
};

uint32_t NumberArgument(const char *what, const std::string &text) {
    const std::optional<uint32_t> number = ParseU32(text);
    if (!number) {
        throw CLI::ValidationError(what,
                                   "'" + text + "' is not a 32-bit number (decimal or 0x hex)");
    }
    return *number;
}

void VerifyRegister(uint32_t device, uint32_t address, uint32_t expected) {
    uint32_t read = 0;
    CheckResult("TqdevReadRegister", TqdevReadRegister(device, address, &read));
    std::printf("register 0x%08x = 0x%08x (%u)\n", address, read, read);
    if (read != expected) {
        std::fprintf(stderr, "tqdev: register 0x%08x reads back 0x%08x, not 0x%08x\n", address,
                     read, expected);
        throw CLI::RuntimeError(1);
    }
}

void RunRegs(const ToolOptions &options, const RegsOptions &regs) {
    const uint32_t address = NumberArgument("ADDR", regs.address);
    const bool write = regs.action == "write";
    if (write && regs.value.empty()) {
        throw CLI::ValidationError("VALUE", "regs write needs a value");
    }
    if (!write && !regs.value.empty()) {
        throw CLI::ValidationError("VALUE", "regs read takes no value");
    }
    const uint32_t value = write ? NumberArgument("VALUE", regs.value) : 0;
    ToolSession session(options);
    OpenCamera camera(regs.device);
    if (write) {
        CheckResult("TqdevWriteRegister", TqdevWriteRegister(regs.device, address, value));
        std::printf("register 0x%08x <- 0x%08x (%u)\n", address, value, value);
        if (regs.verify) {
            VerifyRegister(regs.device, address, value);
        }
        return;
    }
    uint32_t read = 0;
    CheckResult("TqdevReadRegister", TqdevReadRegister(regs.device, address, &read));
    std::printf("register 0x%08x = 0x%08x (%u)\n", address, read, read);
}

} // namespace

void AddRegsCommand(CLI::App &app, const ToolOptions &options) {
    CLI::App *command = app.add_subcommand("regs", "Read or write a camera register");
    auto regs = std::make_shared<RegsOptions>();
    AddDeviceArgument(*command, regs->device);
    command->add_option("action", regs->action, "read or write")
        ->required()
        ->check(CLI::IsMember({"read", "write"}));
    command->add_option("address", regs->address, "Register address")->required();
    command->add_option("value", regs->value, "Value to write");
    command->add_flag("--verify", regs->verify,
                      "After a write, read the register back and compare");
    command->callback([&options, regs] { RunRegs(options, *regs); });
}

// carrier: the vendor tool that packs a launcher image and a setup program's
// files into a carrier, lists a carrier's directory and checks its layout.
#include <exception>
#include <iostream>

#include "tool.h"

namespace {

const char kHelp[] =
    "usage: carrier COMMAND [ARGS...]\n"
    "\n"
    "Commands:\n"
    "  pack --image LAUNCHER -o OUT FILE...   pack FILEs behind the launcher image\n"
    "  list CARRIER [--json]                  print the entry count and directory\n"
    "  check CARRIER                          check that every entry will extract\n"
    "\n"
    "Run carrier COMMAND --help for a command's details.\n";

int Run(const std::vector<std::string> &args)
{
    using namespace carrier_tool;

    if (args.empty())
        throw ToolError("no command (see carrier --help)", kExitFailure);
    const std::string &command = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kHelp;
        return kExitOk;
    }
    if (command == "pack")
        return RunPack(rest);
    if (command == "list")
        return RunList(rest);
    if (command == "check")
        return RunCheck(rest);
    throw ToolError("unknown command " + command + " (see carrier --help)", kExitFailure);
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);

    try {
        int code = Run(args);
        std::cout.flush();
        if (!std::cout)
            throw carrier_tool::ToolError("cannot write to standard output", carrier_tool::kExitFailure);
        return code;
    } catch (const carrier_tool::ToolError &error) {
        std::cerr << "carrier: " << error.what() << "\n";
        return error.code;
    } catch (const std::exception &error) {
        std::cerr << "carrier: " << error.what() << "\n";
        return carrier_tool::kExitFailure;
    }
}

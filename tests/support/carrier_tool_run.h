// Runs the vendor tool as a separate program and captures what it says.
#ifndef TESTS_SUPPORT_CARRIER_TOOL_RUN_H
#define TESTS_SUPPORT_CARRIER_TOOL_RUN_H

#include <string>
#include <vector>

namespace test {

struct ToolRun {
    int code;
    std::string out;
    std::string err;
};

// Runs tool with args (passed through the shell, each quoted), waits for it
// and returns its exit code and output, with CR LF line ends read as LF.
ToolRun RunTool(const std::string &tool, const std::vector<std::string> &args);

} // namespace test

#endif

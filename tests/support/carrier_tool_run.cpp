#include "carrier_tool_run.h"

#include <cstdlib>
#include <filesystem>

#include "support.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace fs = std::filesystem;

namespace test {

namespace {

#ifdef _WIN32
// cmd.exe: double quotes (arguments here hold none); the whole line is
// quoted once more, since cmd strips the outermost pair.
std::string Quote(const std::string &arg) { return "\"" + arg + "\""; }
std::string Line(const std::string &command) { return "\"" + command + "\""; }
int ExitCode(int status) { return status; }
// A console program's text output ends its lines with CR LF here.
std::string Text(std::string bytes)
{
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i++)
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n'))
            out += bytes[i];
    return out;
}
#else
// Plain words go as they are, which keeps very long argument lists within
// what the shell takes in one line.
std::string Quote(const std::string &arg)
{
    if (!arg.empty() && arg.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._/-") ==
                            std::string::npos)
        return arg;
    std::string out = "'";
    for (char c : arg)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}
std::string Line(const std::string &command) { return command; }
int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
std::string Text(std::string bytes) { return bytes; }
#endif

} // namespace

ToolRun RunTool(const std::string &tool, const std::vector<std::string> &args)
{
    ScratchDir capture;
    fs::path out = capture.path() / "out.txt";
    fs::path err = capture.path() / "err.txt";
    std::string command = Quote(fs::absolute(tool).make_preferred().string());
    for (const std::string &arg : args)
        command += " " + Quote(arg);
    command += " >" + Quote(out.string()) + " 2>" + Quote(err.string());
    int status = std::system(Line(command).c_str());
    return {ExitCode(status), Text(ReadBytes(out)), Text(ReadBytes(err))};
}

} // namespace test

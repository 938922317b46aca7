// carrier list and carrier check: the directory as the launcher reads it,
// and whether the launcher would extract every entry of it.
#include <algorithm>
#include <iostream>
#include <map>
#include <sstream>

#include "tool.h"

namespace carrier_tool {

namespace {

const char kListHelp[] =
    "usage: carrier list CARRIER [--json]\n"
    "\n"
    "Prints the entry count and the directory as the launcher reads them: one\n"
    "row per record with its index, offset, size and name. With --json, prints\n"
    "the same as one JSON object; name bytes that are not UTF-8 appear as\n"
    "\\u00XX.\n"
    "\n"
    "Exit status: 0 when listed, 1 when the file holds no readable directory,\n"
    "2 when it can't be read.\n";

const char kCheckHelp[] =
    "usage: carrier check CARRIER\n"
    "\n"
    "Checks the layout the launcher relies on: a carrier below 2 GiB, an entry\n"
    "count of at least 1, a directory that fits inside the file, every entry\n"
    "inside the file and ahead of the directory, and names the launcher\n"
    "extracts. Overlapping entries and names equal when case is ignored are\n"
    "reported as warnings: the launcher handles them.\n"
    "\n"
    "Exit status: 0 when the carrier is sound, 1 with one line per problem\n"
    "when not, 2 when it can't be read.\n";

// The single CARRIER argument of list or check, and whether --json was given.
std::string CarrierArg(const std::string &command, const std::vector<std::string> &args, bool *json)
{
    std::vector<std::string> paths;
    bool pathsOnly = false;

    for (const std::string &arg : args) {
        if (!pathsOnly && json != nullptr && arg == "--json")
            *json = true;
        else if (!pathsOnly && arg == "--")
            pathsOnly = true;
        else if (!pathsOnly && arg.size() > 1 && arg[0] == '-')
            throw ToolError(command + ": unknown option " + arg + " (see carrier " + command + " --help)",
                            kExitFailure);
        else
            paths.push_back(arg);
    }
    if (paths.size() != 1)
        throw ToolError(command + ": expects exactly one CARRIER (see carrier " + command + " --help)",
                        kExitFailure);
    return paths[0];
}

std::string EntryLabel(std::size_t index, const PayloadEntry &entry)
{
    return "entry " + std::to_string(index) + " (" + Quoted(NameBytes(entry)) + ")";
}

// Why the launcher reads no directory at all from this carrier; empty when
// it does.
std::string LayoutProblem(const CarrierLayout &layout)
{
    if (layout.tooLarge)
        return "file is 2 GiB or larger; the launcher reads no payload from it";
    if (!layout.hasCount)
        return "file is too small to hold an entry count";
    if (layout.count < 1)
        return "entry count is " + std::to_string(layout.count) +
               (layout.count < 0 ? " (stored as 0x8000 or more)" : "") + ": the launcher extracts nothing";
    if (!layout.directoryFits)
        return "directory of " + std::to_string(layout.count) + " records (" +
               std::to_string((std::uint64_t)layout.count * PAYLOAD_ENTRY_BYTES) +
               " bytes) and the count do not fit in the file of " + std::to_string(layout.fileSize) + " bytes";
    return "";
}

void PrintTable(const std::string &path, const CarrierLayout &layout)
{
    if (!layout.directoryFits) {
        std::cout << path << ": entry count " << layout.count << ", no entries\n";
        return;
    }
    std::cout << path << ": " << layout.entries.size() << (layout.entries.size() == 1 ? " entry" : " entries")
              << ", directory at " << layout.directoryStart << ", " << layout.fileSize << " bytes\n";
    char row[64];
    std::snprintf(row, sizeof row, "%5s %11s %11s  %s\n", "index", "offset", "size", "name");
    std::cout << row;
    for (std::size_t i = 0; i < layout.entries.size(); i++) {
        const PayloadEntry &entry = layout.entries[i];
        std::snprintf(row, sizeof row, "%5zu %11lu %11lu  ", i, (unsigned long)entry.offset,
                      (unsigned long)entry.size);
        std::cout << row << Quoted(NameBytes(entry)) << "\n";
    }
}

void PrintJson(const std::string &path, const CarrierLayout &layout)
{
    std::cout << "{\"carrier\": " << JsonString(path) << ", \"size\": " << layout.fileSize
              << ", \"count\": " << layout.count << ", \"directory\": ";
    if (layout.directoryFits)
        std::cout << layout.directoryStart;
    else
        std::cout << "null";
    std::cout << ", \"entries\": [";
    for (std::size_t i = 0; i < layout.entries.size(); i++) {
        const PayloadEntry &entry = layout.entries[i];
        std::cout << (i ? ", " : "") << "{\"index\": " << i << ", \"offset\": " << entry.offset
                  << ", \"size\": " << entry.size << ", \"name\": " << JsonString(NameBytes(entry)) << "}";
    }
    std::cout << "]}\n";
}

// Problems that make the launcher skip an entry.
void CheckEntries(const CarrierLayout &layout, std::vector<std::string> &problems)
{
    for (std::size_t i = 0; i < layout.entries.size(); i++) {
        const PayloadEntry &entry = layout.entries[i];
        std::string problem = NameProblem(entry);
        if (!problem.empty())
            problems.push_back(EntryLabel(i, entry) + ": " + problem);
        std::string span = "bytes " + std::to_string(entry.offset) + " to " +
                           std::to_string((std::uint64_t)entry.offset + entry.size);
        if (!EntryFitsBefore(&entry, (DWORD)layout.fileSize))
            problems.push_back(EntryLabel(i, entry) + ": " + span + " lie past the end of the file (" +
                               std::to_string(layout.fileSize) + " bytes)");
        else if (!EntryFitsBefore(&entry, layout.directoryStart))
            problems.push_back(EntryLabel(i, entry) + ": " + span + " reach into the directory at " +
                               std::to_string(layout.directoryStart));
    }
}

// What the launcher copes with but a packed carrier never holds.
void CheckOverlaps(const CarrierLayout &layout, std::vector<std::string> &warnings)
{
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < layout.entries.size(); i++)
        if (layout.entries[i].size > 0)
            order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return layout.entries[a].offset < layout.entries[b].offset;
    });
    // Each entry is compared with the one before it that reaches furthest.
    std::size_t furthest = 0;
    std::uint64_t furthestEnd = 0;
    for (std::size_t k = 0; k < order.size(); k++) {
        const PayloadEntry &entry = layout.entries[order[k]];
        if (k > 0 && entry.offset < furthestEnd)
            warnings.push_back("entries " + std::to_string(std::min(furthest, order[k])) + " and " +
                               std::to_string(std::max(furthest, order[k])) + " overlap");
        std::uint64_t end = (std::uint64_t)entry.offset + entry.size;
        if (k == 0 || end > furthestEnd) {
            furthest = order[k];
            furthestEnd = end;
        }
    }
}

void CheckNames(const CarrierLayout &layout, std::vector<std::string> &warnings)
{
    std::map<std::string, std::size_t> seen;
    for (std::size_t i = 0; i < layout.entries.size(); i++) {
        auto [it, fresh] = seen.emplace(NameKey(NameBytes(layout.entries[i])), i);
        if (!fresh) {
            warnings.push_back("entries " + std::to_string(it->second) + " and " + std::to_string(i) +
                               " have the same name when case is ignored; the later one's data remains");
            it->second = i;
        }
    }
}

} // namespace

int RunList(const std::vector<std::string> &args)
{
    if (WantsHelp(args)) {
        std::cout << kListHelp;
        return kExitOk;
    }
    bool json = false;
    std::string path = CarrierArg("list", args, &json);
    InputFile carrier(path);
    CarrierLayout layout = ReadCarrier(carrier);
    // An empty payload lists as such; anything else unreadable is an error.
    std::string problem = LayoutProblem(layout);
    if (!problem.empty() && !(layout.hasCount && layout.count < 1))
        throw ToolError(path + ": " + problem, kExitProblems);
    if (json)
        PrintJson(path, layout);
    else
        PrintTable(path, layout);
    return kExitOk;
}

int RunCheck(const std::vector<std::string> &args)
{
    if (WantsHelp(args)) {
        std::cout << kCheckHelp;
        return kExitOk;
    }
    std::string path = CarrierArg("check", args, nullptr);
    InputFile carrier(path);
    CarrierLayout layout = ReadCarrier(carrier);
    std::vector<std::string> problems;
    std::vector<std::string> warnings;

    std::string problem = LayoutProblem(layout);
    if (!problem.empty())
        problems.push_back(problem);
    CheckEntries(layout, problems);
    CheckOverlaps(layout, warnings);
    CheckNames(layout, warnings);

    for (const std::string &line : problems)
        std::cout << path << ": " << line << "\n";
    for (const std::string &line : warnings)
        std::cout << path << ": warning: " << line << "\n";
    if (!problems.empty())
        return kExitProblems;
    std::cout << path << ": sound, " << layout.entries.size()
              << (layout.entries.size() == 1 ? " entry" : " entries") << "\n";
    return kExitOk;
}

} // namespace carrier_tool

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
    "row per record with its index, offset, size and name. A signed carrier is\n"
    "read from where its certificate table starts and said to be signed. With\n"
    "--json, prints the same as one JSON object; name bytes that are not UTF-8\n"
    "appear as \\u00XX.\n"
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
    "A signed carrier (its PE header names a certificate table that ends the\n"
    "file) is read from where that table starts, as the launcher reads it,\n"
    "and reported as signed. Reported as problems: a certificate table that\n"
    "does not end the file (the file was changed after signing, or its image\n"
    "was signed before packing), and a count hidden behind the signer's\n"
    "padding (the carrier was signed when its size was not a multiple of 8).\n"
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

// What holds the payload, for messages: the file, or in a signed carrier the
// part of it before the certificate table.
std::string PayloadRegion(const CarrierLayout &layout)
{
    if (layout.isSigned)
        return "the payload of " + std::to_string(layout.payloadEnd) + " bytes before the certificate table";
    return "the file of " + std::to_string(layout.fileSize) + " bytes";
}

// Why the launcher reads no directory at all from this carrier; empty when
// it does.
std::string LayoutProblem(const CarrierLayout &layout)
{
    if (layout.tooLarge)
        return "file is 2 GiB or larger; the launcher reads no payload from it";
    if (!layout.hasCount)
        return (layout.isSigned ? "payload before the certificate table" : "file") +
               std::string(" is too small to hold an entry count");
    if (layout.count < 1)
        return "entry count is " + std::to_string(layout.count) + (layout.count < 0 ? " (stored as 0x8000 or more)" : "") +
               (layout.isSigned ? " (read just before the certificate table at " + std::to_string(layout.payloadEnd) + ")" : "") +
               ": the launcher extracts nothing";
    if (!layout.directoryFits)
        return "directory of " + std::to_string(layout.count) + " records (" + std::to_string((std::uint64_t)layout.count * PAYLOAD_ENTRY_BYTES) +
               " bytes) and the count do not fit in " + PayloadRegion(layout);
    return "";
}

// How list and check name a signed carrier's certificate table.
std::string SignedNote(const CarrierLayout &layout)
{
    return "signed: the payload ends at " + std::to_string(layout.payloadEnd) + ", where a certificate table of " +
           std::to_string(layout.table.size) + " bytes starts";
}

void PrintTable(const std::string &path, const CarrierLayout &layout)
{
    std::string signedNote = layout.isSigned ? ", " + SignedNote(layout) : "";
    if (!layout.directoryFits) {
        std::cout << path << ": entry count " << layout.count << ", no entries" << signedNote << "\n";
        return;
    }
    std::cout << path << ": " << layout.entries.size() << (layout.entries.size() == 1 ? " entry" : " entries")
              << ", directory at " << layout.directoryStart << ", " << layout.fileSize << " bytes" << signedNote
              << "\n";
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
              << ", \"signed\": " << (layout.isSigned ? "true" : "false") << ", \"payloadEnd\": " << layout.payloadEnd
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
        if (!EntryFitsBefore(&entry, layout.payloadEnd))
            problems.push_back(EntryLabel(i, entry) + ": " + span +
                               (layout.isSigned ? " lie past the end of the payload at " + std::to_string(layout.payloadEnd) +
                                                      ", where the certificate table starts"
                                                : " lie past the end of the file (" + std::to_string(layout.fileSize) + " bytes)"));
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

// Every problem that makes the launcher skip entries of this layout.
std::vector<std::string> LayoutProblems(const CarrierLayout &layout)
{
    std::vector<std::string> problems;
    std::string problem = LayoutProblem(layout);
    if (!problem.empty())
        problems.push_back(problem);
    CheckEntries(layout, problems);
    return problems;
}

// The payload end that a signer's padding hides: signing pads the file with
// zeros to a multiple of 8 bytes before it appends the table, so the count of
// a carrier whose size was not a multiple of 8 lies up to 7 zero bytes before
// the table, where the launcher does not look. 0 when no such end gives a
// sound layout.
DWORD PaddedPayloadEnd(InputFile &carrier, const CarrierLayout &layout)
{
    BYTE before[7];
    DWORD available = layout.payloadEnd < sizeof before ? layout.payloadEnd : (DWORD)sizeof before;

    carrier.ReadAt(layout.payloadEnd - available, before, available);
    for (DWORD padding = 1; padding <= available && before[available - padding] == 0; padding++) {
        CarrierLayout padded = ReadCarrierEndingAt(carrier, layout, layout.payloadEnd - padding);
        if (LayoutProblems(padded).empty())
            return padded.payloadEnd;
    }
    return 0;
}

// Problems with the signature's place: a certificate table the PE header
// names but that doesn't end the file, or a signed carrier whose payload
// does not end where its table starts.
void CheckSignature(InputFile &carrier, const CarrierLayout &layout, bool layoutSound,
                    std::vector<std::string> &problems)
{
    if (layout.namesTable && !layout.isSigned) {
        std::uint64_t tableEnd = (std::uint64_t)layout.table.offset + layout.table.size;
        std::string table = "the PE header names a certificate table at " + std::to_string(layout.table.offset) + " (" +
                            std::to_string(layout.table.size) + " bytes) that ";
        if (tableEnd > layout.fileSize)
            problems.push_back(table + "runs past the end of the file (" + std::to_string(layout.fileSize) +
                               " bytes): the file is cut short or was changed after signing; the launcher "
                               "reads the payload from the end of the file");
        else
            problems.push_back(table + "ends at " + std::to_string(tableEnd) + ", before the end of the file (" +
                               std::to_string(layout.fileSize) +
                               " bytes): the file was changed after signing, or its image was signed before "
                               "packing; the launcher reads the payload from the end of the file, which the "
                               "signature does not cover. Sign the carrier after packing");
        return;
    }
    if (!layout.isSigned || layoutSound)
        return;
    DWORD paddedEnd = PaddedPayloadEnd(carrier, layout);
    if (paddedEnd != 0)
        problems.push_back("the payload ends at " + std::to_string(paddedEnd) + ", " + std::to_string(layout.payloadEnd - paddedEnd) +
                           " zero bytes before the certificate table at " + std::to_string(layout.payloadEnd) +
                           ": the carrier was signed when its size was not a multiple of 8, and the launcher "
                           "reads the count only where the table starts. Pack it again with this carrier "
                           "pack, which pads the carrier to a multiple of 8 bytes, and sign the new carrier");
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
    std::vector<std::string> layoutProblems = LayoutProblems(layout);
    std::vector<std::string> problems;
    std::vector<std::string> warnings;

    // The signature's problem first: it explains those of the layout.
    CheckSignature(carrier, layout, layoutProblems.empty(), problems);
    problems.insert(problems.end(), layoutProblems.begin(), layoutProblems.end());
    CheckOverlaps(layout, warnings);
    CheckNames(layout, warnings);

    for (const std::string &line : problems)
        std::cout << path << ": " << line << "\n";
    for (const std::string &line : warnings)
        std::cout << path << ": warning: " << line << "\n";
    if (!problems.empty())
        return kExitProblems;
    std::cout << path << ": sound, " << layout.entries.size()
              << (layout.entries.size() == 1 ? " entry" : " entries")
              << (layout.isSigned ? ", " + SignedNote(layout) : "") << "\n";
    return kExitOk;
}

} // namespace carrier_tool

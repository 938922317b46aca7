// carrier pack: the launcher image, then each file's bytes back to back in
// the order given, then zero padding, the directory and the count. The
// padding makes the carrier's size a multiple of 8: code signing pads a file
// to that before it appends the certificate table, and padding it added would
// stand between the count and the table, where the launcher looks for the
// count. Everything that would
// make the launcher skip or misplace an entry is refused before any output
// exists; the output appears whole or not at all, and the same inputs always
// give the same bytes.
#include <cstring>
#include <iostream>
#include <map>

#include "tool.h"

namespace carrier_tool {

namespace {

const char kPackHelp[] =
    "usage: carrier pack --image LAUNCHER -o OUT FILE...\n"
    "\n"
    "Writes OUT: the LAUNCHER image followed by each FILE in the order given,\n"
    "then zero bytes up to a size that is a multiple of 8, the directory and\n"
    "the entry count. Each entry is stored under its file's base name, which\n"
    "must be at most 31 bytes and a plain name the launcher extracts (no ':',\n"
    "no \".\" or \"..\"); no two names may be equal when case is ignored. At\n"
    "most 32,767 files; the carrier must stay below 2 GiB. OUT is replaced\n"
    "only when the whole carrier has been written.\n"
    "\n"
    "OUT can be code-signed after packing: the launcher reads a signed\n"
    "carrier's payload from where its certificate table starts. Sign OUT, not\n"
    "LAUNCHER: a signed LAUNCHER's signature does not hold for the carrier,\n"
    "and pack warns of one.\n"
    "\n"
    "Exit status: 0 when OUT was written, 2 on any refusal or failure.\n";

struct PackOptions {
    std::string image;
    std::string output;
    std::vector<std::string> files;
};

PackOptions ParsePackArgs(const std::vector<std::string> &args)
{
    PackOptions options;
    bool filesOnly = false;

    for (std::size_t i = 0; i < args.size(); i++) {
        const std::string &arg = args[i];
        if (!filesOnly && (arg == "--image" || arg == "-o" || arg == "--output")) {
            if (i + 1 >= args.size())
                throw ToolError("pack: " + arg + " needs a value", kExitFailure);
            (arg == "--image" ? options.image : options.output) = args[++i];
        } else if (!filesOnly && arg == "--") {
            filesOnly = true;
        } else if (!filesOnly && arg.size() > 1 && arg[0] == '-') {
            throw ToolError("pack: unknown option " + arg + " (see carrier pack --help)", kExitFailure);
        } else {
            options.files.push_back(arg);
        }
    }
    if (options.image.empty())
        throw ToolError("pack: --image LAUNCHER is required", kExitFailure);
    if (options.output.empty())
        throw ToolError("pack: -o OUT is required", kExitFailure);
    if (options.files.empty())
        throw ToolError("pack: no FILE to pack", kExitFailure);
    if (options.files.size() > PAYLOAD_MAX_ENTRIES)
        throw ToolError("pack: " + std::to_string(options.files.size()) +
                            " files; a carrier holds at most 32767 entries",
                        kExitFailure);
    return options;
}

std::string BaseName(const std::string &path)
{
    std::size_t start = path.size();
    while (start > 0 && !IsPathSeparator(path[start - 1]))
        start--;
    return path.substr(start);
}

// The directory record's name for file, or a refusal naming the file.
PayloadEntry NamedEntry(const std::string &file)
{
    PayloadEntry entry = {};
    std::string name = BaseName(file);

    if (name.empty())
        throw ToolError(file + ": has no file name", kExitFailure);
    // Only possible where '\' is an ordinary character: the launcher would
    // take it as a directory separator.
    if (name.find('\\') != std::string::npos)
        throw ToolError(file + ": name " + Quoted(name) + " holds '\\', which the launcher takes as a directory separator",
                        kExitFailure);
    if (name.size() >= PAYLOAD_NAME_BYTES)
        throw ToolError(file + ": name " + Quoted(name) + " is " + std::to_string(name.size()) +
                            " bytes; a directory record holds at most 31",
                        kExitFailure);
    std::memcpy(entry.name, name.data(), name.size());
    std::string problem = NameProblem(entry);
    if (!problem.empty())
        throw ToolError(file + ": the launcher would skip it: " + problem, kExitFailure);
    return entry;
}

std::vector<PayloadEntry> NamedEntries(const std::vector<std::string> &files)
{
    std::vector<PayloadEntry> entries;
    std::map<std::string, std::size_t> seen;

    for (std::size_t i = 0; i < files.size(); i++) {
        entries.push_back(NamedEntry(files[i]));
        auto [it, fresh] = seen.emplace(NameKey(NameBytes(entries.back())), i);
        if (!fresh)
            throw ToolError(files[i] + ": name " + Quoted(NameBytes(entries.back())) + " equals that of " +
                                files[it->second] +
                                " when case is ignored; one would overwrite the other on Windows",
                            kExitFailure);
    }
    return entries;
}

// The carrier's sizes as laid out.
struct PackedSizes {
    std::uint64_t image;
    // Zero bytes between the last entry's data and the directory.
    std::uint64_t padding;
};

const std::uint64_t kSignedAlignment = 8;

// A signed image's certificate table stays where it is, in the middle of the
// carrier, and no longer ends the file: the carrier then carries a signature
// that fails verification until the carrier itself is signed. Packing goes
// on, since the launcher reads such a carrier from the end of the file, and
// signing the carrier replaces the stale table's directory entry.
void WarnOfSignedImage(InputFile &image)
{
    CarrierLayout layout;
    layout.fileSize = image.size();
    ReadSignature(image, layout);
    if (layout.namesTable)
        std::cerr << "carrier: warning: " << image.path()
                  << ": the image is signed; its signature does not hold for the carrier. Sign the carrier "
                     "after packing\n";
}

// Sizes every input, refusing unreadable ones, and places each entry right
// after the one before it. Refuses a carrier of 2 GiB or more.
PackedSizes LayOut(const PackOptions &options, std::vector<PayloadEntry> &entries)
{
    InputFile image(options.image);
    std::uint64_t imageSize = image.size();
    std::uint64_t position = imageSize;

    if (imageSize >= CARRIER_MAX_BYTES)
        throw ToolError(options.image + ": the image alone reaches 2 GiB; a carrier must stay below", kExitFailure);
    WarnOfSignedImage(image);

    for (std::size_t i = 0; i < entries.size(); i++) {
        std::uint64_t size = InputFile(options.files[i]).size();
        if (size > CARRIER_MAX_BYTES || position + size > CARRIER_MAX_BYTES)
            throw ToolError(options.files[i] + ": the carrier would reach 2 GiB; it must stay below",
                            kExitFailure);
        entries[i].offset = (DWORD)position;
        entries[i].size = (DWORD)size;
        position += size;
    }
    std::uint64_t size = position + entries.size() * PAYLOAD_ENTRY_BYTES + PAYLOAD_COUNT_BYTES;
    std::uint64_t padding = (kSignedAlignment - size % kSignedAlignment) % kSignedAlignment;
    if (size + padding > CARRIER_MAX_BYTES)
        throw ToolError(options.output + ": the carrier would reach 2 GiB; it must stay below", kExitFailure);
    return {imageSize, padding};
}

// Copies all of file into out; its size must still be the one laid out.
void CopyWhole(const std::string &file, std::uint64_t expected, AtomicOutput &out, std::vector<char> &buffer)
{
    InputFile input(file);
    std::uint64_t copied = 0;
    std::size_t got;

    while ((got = input.ReadSome(buffer.data(), buffer.size())) > 0) {
        copied += got;
        if (copied > expected)
            break;
        out.Write(buffer.data(), got);
    }
    if (copied != expected)
        throw ToolError(file + ": changed size while being packed", kExitFailure);
}

} // namespace

int RunPack(const std::vector<std::string> &args)
{
    if (WantsHelp(args)) {
        std::cout << kPackHelp;
        return kExitOk;
    }
    PackOptions options = ParsePackArgs(args);
    std::vector<PayloadEntry> entries = NamedEntries(options.files);
    PackedSizes sizes = LayOut(options, entries);

    std::vector<char> buffer(1 << 20);
    AtomicOutput out(options.output);
    CopyWhole(options.image, sizes.image, out, buffer);
    for (std::size_t i = 0; i < entries.size(); i++)
        CopyWhole(options.files[i], entries[i].size, out, buffer);

    // Padding, directory and count; the padding is zeros, so the same
    // inputs still give the same bytes.
    std::vector<BYTE> tail(sizes.padding + entries.size() * PAYLOAD_ENTRY_BYTES + PAYLOAD_COUNT_BYTES, 0);
    BYTE *directory = tail.data() + sizes.padding;
    for (std::size_t i = 0; i < entries.size(); i++)
        EncodePayloadEntry(&entries[i], directory + i * PAYLOAD_ENTRY_BYTES);
    EncodeEntryCount((int)entries.size(), directory + entries.size() * PAYLOAD_ENTRY_BYTES);
    out.Write(tail.data(), tail.size());
    out.Commit();
    return kExitOk;
}

} // namespace carrier_tool

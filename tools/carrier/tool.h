// The vendor tool's commands and what they share: reading a carrier's
// directory back and showing names safely. The layout rules themselves come
// from the launcher's own format procedures.
#ifndef TOOLS_CARRIER_TOOL_H
#define TOOLS_CARRIER_TOOL_H

#include <cstdint>
#include <string>
#include <vector>

#include "files.h"
#include "format.h"
#include "signature.h"

namespace carrier_tool {

int RunPack(const std::vector<std::string> &args);
int RunList(const std::vector<std::string> &args);
int RunCheck(const std::vector<std::string> &args);

// A carrier's tail as the launcher reads it.
struct CarrierLayout {
    std::uint64_t fileSize = 0;
    // The launcher reads nothing from a file of 2 GiB or more.
    bool tooLarge = false;
    // Whether the PE header names a certificate table, which one, and
    // whether it ends the file: only then is the carrier signed and does its
    // payload end where the table starts.
    bool namesTable = false;
    CertificateTable table = {};
    bool isSigned = false;
    DWORD payloadEnd = 0;
    // Whether the payload has the two bytes of a count at all.
    bool hasCount = false;
    int count = 0;
    // Whether a directory of count records fits before the count.
    bool directoryFits = false;
    DWORD directoryStart = 0;
    std::vector<PayloadEntry> entries;
};

CarrierLayout ReadCarrier(InputFile &carrier);
// Fills what the PE header says about a certificate table (namesTable,
// table, isSigned) for a file of layout.fileSize bytes, below 2 GiB.
void ReadSignature(InputFile &file, CarrierLayout &layout);
// The count, directory and entries read back from payloadEnd instead of the
// carrier's own payload end; what the layout says about the file is kept.
CarrierLayout ReadCarrierEndingAt(InputFile &carrier, const CarrierLayout &layout, DWORD payloadEnd);

// The name's bytes up to its NUL, or all 32 when it has none.
std::string NameBytes(const PayloadEntry &entry);
// Why the launcher would skip this name; empty when PayloadNameIsSafe accepts it.
std::string NameProblem(const PayloadEntry &entry);
// Names compared as Windows does for ASCII: case and separator style ignored.
std::string NameKey(const std::string &name);

// A byte string in double quotes for a terminal: control bytes and bytes
// that are not UTF-8 appear as \xHH.
std::string Quoted(const std::string &bytes);
// A byte string as a JSON string; bytes that are not UTF-8 appear as \u00HH.
std::string JsonString(const std::string &bytes);

// Tells whether an argument list asks for a command's help.
bool WantsHelp(const std::vector<std::string> &args);

} // namespace carrier_tool

#endif

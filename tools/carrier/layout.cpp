// Reading a carrier back and describing its names, for list and check.
#include <cstring>

#include "tool.h"

namespace carrier_tool {

namespace {

// A HeaderReader over the tool's input file. The shared procedure is plain
// C and must not be unwound through, so a failure is kept and rethrown.
struct HeaderSource {
    InputFile *file;
    ToolError failure{"", kExitFailure};
    bool failed = false;
};

BOOL ReadHeaderBytes(void *context, DWORD position, BYTE *buffer, DWORD wanted)
{
    HeaderSource *source = static_cast<HeaderSource *>(context);
    try {
        source->file->ReadAt(position, buffer, wanted);
        return TRUE;
    } catch (const ToolError &error) {
        source->failure = error;
        source->failed = true;
        return FALSE;
    }
}

} // namespace

void ReadSignature(InputFile &carrier, CarrierLayout &layout)
{
    HeaderSource source{&carrier};
    BOOL named = FALSE;

    if (!ReadCertificateTable(ReadHeaderBytes, &source, (DWORD)layout.fileSize, &named, &layout.table))
        throw source.failure;
    layout.namesTable = named != FALSE;
    layout.isSigned = layout.namesTable && CertificateTableEndsFile(&layout.table, (DWORD)layout.fileSize);
}

CarrierLayout ReadCarrierEndingAt(InputFile &carrier, const CarrierLayout &file, DWORD payloadEnd)
{
    CarrierLayout layout;
    BYTE countBytes[PAYLOAD_COUNT_BYTES];

    layout.fileSize = file.fileSize;
    layout.tooLarge = file.tooLarge;
    layout.namesTable = file.namesTable;
    layout.table = file.table;
    layout.isSigned = file.isSigned;
    layout.payloadEnd = payloadEnd;
    if (layout.tooLarge || layout.payloadEnd < PAYLOAD_COUNT_BYTES)
        return layout;
    layout.hasCount = true;
    carrier.ReadAt(layout.payloadEnd - PAYLOAD_COUNT_BYTES, countBytes, sizeof countBytes);
    layout.count = DecodeEntryCount(countBytes);
    layout.directoryFits = LocateDirectory(layout.payloadEnd, layout.count, &layout.directoryStart) != FALSE;
    if (!layout.directoryFits)
        return layout;

    std::vector<BYTE> directory((std::size_t)layout.count * PAYLOAD_ENTRY_BYTES);
    carrier.ReadAt(layout.directoryStart, directory.data(), directory.size());
    layout.entries.resize((std::size_t)layout.count);
    for (std::size_t i = 0; i < layout.entries.size(); i++)
        DecodePayloadEntry(directory.data() + i * PAYLOAD_ENTRY_BYTES, &layout.entries[i]);
    return layout;
}

CarrierLayout ReadCarrier(InputFile &carrier)
{
    CarrierLayout file;

    file.fileSize = carrier.size();
    if (file.fileSize > CARRIER_MAX_BYTES) {
        file.tooLarge = true;
        return file;
    }
    // The payload ends at the end of the file, or where the certificate
    // table of a signed carrier starts.
    ReadSignature(carrier, file);
    return ReadCarrierEndingAt(carrier, file, file.isSigned ? file.table.offset : (DWORD)file.fileSize);
}

std::string NameBytes(const PayloadEntry &entry)
{
    const void *nul = std::memchr(entry.name, '\0', PAYLOAD_NAME_BYTES);
    std::size_t length = nul ? (std::size_t)(static_cast<const CHAR *>(nul) - entry.name) : PAYLOAD_NAME_BYTES;
    return std::string(entry.name, length);
}

std::string NameProblem(const PayloadEntry &entry)
{
    if (PayloadNameIsSafe(entry.name))
        return "";
    std::string name = NameBytes(entry);
    if (name.size() == PAYLOAD_NAME_BYTES)
        return "name has no terminating NUL within its 32 bytes";
    if (name.empty())
        return "name is empty";
    if (name.find(':') != std::string::npos)
        return "name holds ':' (a drive or another data stream)";
    if (name[0] == '\\' || name[0] == '/')
        return "name starts with a separator";
    return "name has a \".\" or \"..\" component (or one made only of dots and spaces)";
}

std::string NameKey(const std::string &name)
{
    std::string key = name;
    for (char &c : key) {
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
        else if (c == '/')
            c = '\\';
    }
    return key;
}

namespace {

// Length of the well-formed UTF-8 sequence at bytes[i] that is not a
// control character, or 0.
std::size_t PrintableSequence(const std::string &bytes, std::size_t i)
{
    unsigned char lead = (unsigned char)bytes[i];
    std::size_t length;
    unsigned long code;

    if (lead >= 0x20 && lead < 0x7F)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > bytes.size())
        return 0;
    for (std::size_t k = 1; k < length; k++) {
        unsigned char next = (unsigned char)bytes[i + k];
        if ((next & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (next & 0x3F);
    }
    bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    bool invalid = code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF);
    bool control = code >= 0x80 && code < 0xA0;
    return overlong || invalid || control ? 0 : length;
}

const char kHex[] = "0123456789abcdef";

// Quotes bytes, writing each one that is not printable UTF-8 as escape
// followed by two hex digits.
std::string QuoteWith(const std::string &bytes, const char *escape)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t length = PrintableSequence(bytes, i);
        if (length == 1 && (bytes[i] == '"' || bytes[i] == '\\')) {
            out += '\\';
            out += bytes[i++];
        } else if (length > 0) {
            out.append(bytes, i, length);
            i += length;
        } else {
            unsigned char c = (unsigned char)bytes[i++];
            out += escape;
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out + "\"";
}

} // namespace

std::string Quoted(const std::string &bytes) { return QuoteWith(bytes, "\\x"); }

std::string JsonString(const std::string &bytes) { return QuoteWith(bytes, "\\u00"); }

bool WantsHelp(const std::vector<std::string> &args)
{
    for (const std::string &arg : args) {
        if (arg == "--")
            return false;
        if (arg == "--help" || arg == "-h")
            return true;
    }
    return false;
}

} // namespace carrier_tool

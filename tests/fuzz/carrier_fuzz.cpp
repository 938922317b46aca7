// libFuzzer target: the input is a whole carrier. It is extracted into a
// scratch temporary directory twice, once as it is and once with one service
// call failing, and after each run:
//   - nothing exists in the scratch area outside the temporary directory
//     (the directory sits ten levels deep, so a name that climbs out of it,
//     at most 31 bytes, still lands where this target looks);
//   - no file handle or memory block is still held;
//   - every file extracted holds exactly the bytes of some record that lies
//     wholly inside the payload (which, in a signed carrier, ends where the
//     certificate table starts): nothing short, nothing zero-padded.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <system_error>

#include <unistd.h>

#include "carrier.h"
#include "fault.h"
#include "signature.h"

namespace fs = std::filesystem;

namespace {

struct Scratch {
    fs::path root;
    fs::path carrier;
    fs::path tmp;
    std::string tempDir;
};

void RemoveScratch();

const Scratch &TheScratch()
{
    static Scratch scratch = [] {
        Scratch s;
        s.root = fs::temp_directory_path() / ("carrier-fuzz-" + std::to_string(getpid()));
        fs::remove_all(s.root);
        s.carrier = s.root / "carrier.exe";
        fs::path dir = s.root;
        for (int i = 0; i < 10; i++)
            dir /= "n";
        s.tmp = dir / "tmp";
        s.tempDir = s.tmp.string() + "/";
        fs::create_directories(s.tmp);
        return s;
    }();
    // Registered after scratch itself, so it runs before scratch is destroyed.
    static const bool removedAtExit = std::atexit(RemoveScratch) == 0;
    (void)removedAtExit;
    return scratch;
}

void RemoveScratch()
{
    std::error_code ec;
    fs::remove_all(TheScratch().root, ec);
}

// The crashing input, kept by libFuzzer, reproduces what the scratch area held.
[[noreturn]] void Fail(const std::string &what)
{
    std::fprintf(stderr, "carrier_fuzz: %s\n", what.c_str());
    RemoveScratch();
    std::abort();
}

// An empty temporary directory holding only "sub", so names with a
// subdirectory part can be extracted too.
void ResetTmp(const Scratch &s)
{
    for (const fs::directory_entry &entry : fs::directory_iterator(s.tmp))
        fs::remove_all(entry.path());
    fs::create_directory(s.tmp / "sub");
}

// Where the payload ends: before the certificate table of a signed carrier,
// else at the end of the file. Decoded here from the bytes in memory; the
// launcher reads the same header through the services.
DWORD PayloadEnd(const std::string &carrier)
{
    DWORD size = static_cast<DWORD>(carrier.size());
    const BYTE *bytes = reinterpret_cast<const BYTE *>(carrier.data());
    DWORD peOffset;
    CertificateTable table;

    if (!DecodePeHeadersOffset(bytes, size < PE_DOS_HEADER_BYTES ? size : PE_DOS_HEADER_BYTES, size, &peOffset))
        return size;
    DWORD got = size - peOffset < PE_HEADERS_BYTES ? size - peOffset : PE_HEADERS_BYTES;
    if (DecodeCertificateTable(bytes + peOffset, got, peOffset, &table) && CertificateTableEndsFile(&table, size))
        return table.offset;
    return size;
}

// The bytes of every record that lies wholly inside the payload.
std::set<std::string> RecordContents(const std::string &carrier)
{
    std::set<std::string> contents;
    DWORD end = PayloadEnd(carrier);
    if (end < PAYLOAD_COUNT_BYTES)
        return contents;
    const BYTE *bytes = reinterpret_cast<const BYTE *>(carrier.data());
    int count = DecodeEntryCount(bytes + end - PAYLOAD_COUNT_BYTES);
    DWORD directory;
    if (!LocateDirectory(end, count, &directory))
        return contents;
    for (int i = 0; i < count; i++) {
        PayloadEntry entry;
        DecodePayloadEntry(bytes + directory + i * PAYLOAD_ENTRY_BYTES, &entry);
        if (EntryFitsBefore(&entry, end))
            contents.insert(carrier.substr(entry.offset, entry.size));
    }
    return contents;
}

std::string ReadAll(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void CheckAfterRun(const Scratch &s, const std::set<std::string> &contents)
{
    if (PlatformResourcesHeld(RESOURCE_FILE) != 0 || PlatformResourcesHeld(RESOURCE_BLOCK) != 0)
        Fail("a file handle or memory block is still held");

    const std::string tmpPrefix = s.tmp.string() + "/";
    for (auto it = fs::recursive_directory_iterator(s.root); it != fs::recursive_directory_iterator(); ++it) {
        const fs::path &path = it->path();
        bool inside = path.string().rfind(tmpPrefix, 0) == 0;
        bool onTheWay = path == s.tmp || path == s.carrier ||
                        (it->is_directory() && s.tmp.string().rfind(path.string() + "/", 0) == 0);
        if (!inside && !onTheWay)
            Fail("written outside the temporary directory: " + path.string());
        if (inside && it->is_regular_file() && !contents.count(ReadAll(path)))
            Fail("extracted file matches no record: " + path.string());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const Scratch &s = TheScratch();
    std::string carrier(reinterpret_cast<const char *>(data), size);
    {
        std::ofstream out(s.carrier, std::ios::binary | std::ios::trunc);
        out.write(carrier.data(), static_cast<std::streamsize>(carrier.size()));
    }
    std::set<std::string> contents = RecordContents(carrier);

    ResetTmp(s);
    PlatformFaultArm(0, FALSE);
    ExtractPayload(s.carrier.c_str(), s.tempDir.c_str());
    unsigned long calls = PlatformFaultCalls();
    CheckAfterRun(s, contents);

    // Again, with one of the calls the first run made failing; which one
    // follows from the input, so every run can be reproduced.
    if (calls > 0) {
        std::uint32_t hash = 2166136261u;
        for (std::size_t i = 0; i < size; i++)
            hash = (hash ^ data[i]) * 16777619u;
        ResetTmp(s);
        PlatformFaultArm(1 + hash % calls, FALSE);
        ExtractPayload(s.carrier.c_str(), s.tempDir.c_str());
        PlatformFaultArm(0, FALSE);
        CheckAfterRun(s, contents);
    }
    return 0;
}

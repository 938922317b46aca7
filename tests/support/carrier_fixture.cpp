#include "carrier_fixture.h"

#include <cstring>
#include <stdexcept>

#include "support.h"

namespace fs = std::filesystem;

namespace test {

namespace {

void AppendLe32(std::string &out, std::uint32_t value)
{
    for (int i = 0; i < 4; i++)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

} // namespace

std::string SyntheticBytes(std::size_t size, std::uint32_t seed)
{
    std::string out(size, '\0');
    std::uint64_t state = 0x9E3779B97F4A7C15ULL * (seed + 1);
    for (std::size_t i = 0; i < size; i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::size_t n = size - i < 8 ? size - i : 8;
        std::memcpy(&out[i], &state, n);
    }
    return out;
}

std::string CarrierBytes(const std::string &body, const std::vector<CarrierRecord> &records,
                         std::optional<std::uint16_t> storedCount)
{
    std::string out = body;
    for (const CarrierRecord &record : records) {
        if (record.name.size() > 32)
            throw std::invalid_argument("a record name holds at most 32 bytes");
        AppendLe32(out, record.offset);
        AppendLe32(out, record.size);
        out += record.name;
        out.append(32 - record.name.size(), '\0');
    }
    std::uint16_t count = storedCount ? *storedCount : static_cast<std::uint16_t>(records.size());
    out += static_cast<char>(count & 0xFF);
    out += static_cast<char>(count >> 8);
    return out;
}

std::string PackedCarrier(std::size_t imageSize, const std::vector<CarrierFile> &files,
                          std::vector<CarrierRecord> *records, std::size_t padTo)
{
    return PackedBehind(SyntheticBytes(imageSize, 0xC0DE), files, records, padTo);
}

std::string PackedBehind(const std::string &image, const std::vector<CarrierFile> &files,
                         std::vector<CarrierRecord> *records, std::size_t padTo)
{
    std::string body = image;
    std::vector<CarrierRecord> laidOut;
    for (const CarrierFile &file : files) {
        laidOut.push_back({static_cast<std::uint32_t>(body.size()), static_cast<std::uint32_t>(file.data.size()),
                           file.name});
        body += file.data;
    }
    if (records)
        *records = laidOut;
    std::size_t size = body.size() + laidOut.size() * 40 + 2;
    body.append((padTo - size % padTo) % padTo, '\0');
    return CarrierBytes(body, laidOut);
}

std::vector<CarrierFile> ReleaseFiles()
{
    const std::pair<const char *, std::size_t> layout[] = {
        {"data1.cab", 764365}, {"data1.hdr", 70803},  {"data2.cab", 3197603}, {"ikernel.ex_", 346602},
        {"layout.bin", 417},   {"Setup.exe", 165888}, {"Setup.ini", 113},     {"setup.inx", 146715},
    };
    std::vector<CarrierFile> files;
    std::uint32_t seed = 1;
    for (const auto &[name, size] : layout)
        files.push_back({name, SyntheticBytes(size, seed++)});
    return files;
}

std::map<std::string, std::string> FilesUnder(const fs::path &dir)
{
    std::map<std::string, std::string> files;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file())
            files[entry.path().lexically_relative(dir).generic_string()] = ReadBytes(entry.path());
    }
    return files;
}

std::map<std::string, std::string> FileMap(const std::vector<CarrierFile> &files)
{
    std::map<std::string, std::string> map;
    for (const CarrierFile &file : files)
        map[file.name] = file.data;
    return map;
}

std::map<std::string, std::string> Digests(const std::map<std::string, std::string> &files)
{
    std::map<std::string, std::string> digests;
    for (const auto &[name, data] : files) {
        std::uint64_t hash = 0xCBF29CE484222325ULL;
        for (unsigned char c : data)
            hash = (hash ^ c) * 0x100000001B3ULL;
        digests[name] = std::to_string(data.size()) + " bytes, FNV-1a " + std::to_string(hash);
    }
    return digests;
}

} // namespace test

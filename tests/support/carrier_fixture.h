// Building carriers for the tests, independently of the launcher's own
// encoding procedures, and looking at what extraction left behind.
#ifndef TESTS_SUPPORT_CARRIER_FIXTURE_H
#define TESTS_SUPPORT_CARRIER_FIXTURE_H

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace test {

// One directory record. name holds the raw bytes of the 32-byte field: it is
// NUL-padded, so a name of 32 bytes has no terminator.
struct CarrierRecord {
    std::uint32_t offset;
    std::uint32_t size;
    std::string name;
};

struct CarrierFile {
    std::string name;
    std::string data;
};

// Deterministic bytes that differ with seed and position.
std::string SyntheticBytes(std::size_t size, std::uint32_t seed);

// body, then the records, then the count: records.size() unless storedCount
// gives the raw 16-bit value to store instead.
std::string CarrierBytes(const std::string &body, const std::vector<CarrierRecord> &records,
                         std::optional<std::uint16_t> storedCount = std::nullopt);

// An image of imageSize synthetic bytes, the files back to back after it in
// the order given, the directory and the count, as the release carrier is
// laid out. Fills records when given. With padTo, zero bytes between the
// last file and the directory make the size a multiple of padTo, as carrier
// pack pads with 8 so that a carrier can be signed.
std::string PackedCarrier(std::size_t imageSize, const std::vector<CarrierFile> &files,
                          std::vector<CarrierRecord> *records = nullptr, std::size_t padTo = 1);
// The same behind the given image.
std::string PackedBehind(const std::string &image, const std::vector<CarrierFile> &files,
                         std::vector<CarrierRecord> *records = nullptr, std::size_t padTo = 1);

// The eight entries of the release carrier with their sizes and synthetic
// content; packed behind a 40,960-byte image they sit at the release offsets.
std::vector<CarrierFile> ReleaseFiles();
inline constexpr std::size_t kReleaseImageSize = 40960;

// Every regular file under dir, by its path relative to dir ('/'-separated),
// with its content.
std::map<std::string, std::string> FilesUnder(const std::filesystem::path &dir);

// The expected result of an extraction: files by name.
std::map<std::string, std::string> FileMap(const std::vector<CarrierFile> &files);

// Files by name with each content reduced to its size and a hash, for
// comparisons whose failure message would otherwise print megabytes.
std::map<std::string, std::string> Digests(const std::map<std::string, std::string> &files);

} // namespace test

#endif

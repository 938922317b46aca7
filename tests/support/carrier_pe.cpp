#include "carrier_pe.h"

#include <stdexcept>

#include "carrier_fixture.h"

namespace test {

namespace {

const std::size_t kFileHeaderAt = kPeHeadersAt + 4;
const std::size_t kOptionalHeaderAt = kFileHeaderAt + 20;

std::size_t DataDirectoriesAt(PeForm form) { return kOptionalHeaderAt + (form == PeForm::Pe32 ? 96 : 112); }

} // namespace

void PutLe16(std::string &bytes, std::size_t at, std::uint16_t value)
{
    bytes.at(at) = static_cast<char>(value & 0xFF);
    bytes.at(at + 1) = static_cast<char>(value >> 8);
}

void PutLe32(std::string &bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; i++)
        bytes.at(at + i) = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::size_t OptionalMagicAt() { return kOptionalHeaderAt; }
std::size_t SizeOfHeadersAt() { return kOptionalHeaderAt + 60; }
std::size_t DirectoryCountAt(PeForm form) { return kOptionalHeaderAt + (form == PeForm::Pe32 ? 92 : 108); }
std::size_t SecurityDirectoryAt(PeForm form) { return DataDirectoriesAt(form) + 4 * 8; }
std::size_t SizeOfOptionalHeaderAt() { return kFileHeaderAt + 16; }

std::string PeImage(PeForm form, std::size_t size)
{
    if (size < kPeSizeOfHeaders)
        throw std::invalid_argument("a PE image holds at least its headers");
    std::string image = SyntheticBytes(size, 0x5E);
    image.replace(0, kPeSizeOfHeaders, kPeSizeOfHeaders, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    PutLe32(image, 0x3C, kPeHeadersAt);
    image.replace(kPeHeadersAt, 4, std::string("PE\0\0", 4));
    PutLe16(image, kFileHeaderAt, form == PeForm::Pe32 ? 0x014C : 0x8664);
    // Sixteen directories of 8 bytes after the fixed fields.
    PutLe16(image, SizeOfOptionalHeaderAt(), form == PeForm::Pe32 ? 224 : 240);
    PutLe16(image, OptionalMagicAt(), form == PeForm::Pe32 ? 0x10B : 0x20B);
    PutLe32(image, SizeOfHeadersAt(), kPeSizeOfHeaders);
    PutLe32(image, DirectoryCountAt(form), 16);
    return image;
}

std::string RogueTable(std::size_t size)
{
    if (size % 8 != 0 || size < 64)
        throw std::invalid_argument("a certificate table here is a multiple of 8 and at least 64 bytes");
    std::string tail = CarrierBytes("", {{0, 16, "rogue"}});
    std::string table = SyntheticBytes(size - tail.size(), 0x7AB);
    // A WIN_CERTIFICATE header: its length, revision 2.0, PKCS#7 signed data.
    PutLe32(table, 0, static_cast<std::uint32_t>(size));
    PutLe16(table, 4, 0x0200);
    PutLe16(table, 6, 0x0002);
    return table + tail;
}

std::string SignCarrier(std::string carrier, PeForm form, const std::string &table)
{
    carrier.append((8 - carrier.size() % 8) % 8, '\0');
    PutLe32(carrier, SecurityDirectoryAt(form), static_cast<std::uint32_t>(carrier.size()));
    PutLe32(carrier, SecurityDirectoryAt(form) + 4, static_cast<std::uint32_t>(table.size()));
    return carrier + table;
}

} // namespace test

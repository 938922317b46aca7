// Synthetic PE images and signed carriers for the tests, built independently
// of the launcher's own header decoding. A signed carrier here is laid out
// as code signing lays it out: the file padded with zeros to a multiple of 8,
// then the certificate table, which the security directory points at by file
// offset.
#ifndef TESTS_SUPPORT_CARRIER_PE_H
#define TESTS_SUPPORT_CARRIER_PE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace test {

enum class PeForm { Pe32, Pe32Plus };

// Where the image's PE headers start (its e_lfanew) and what it declares as
// the size of its headers.
inline constexpr std::size_t kPeHeadersAt = 0x80;
inline constexpr std::uint32_t kPeSizeOfHeaders = 0x200;

// A minimal image of size bytes (at least kPeSizeOfHeaders): a DOS header,
// PE headers of the given form with sixteen empty data directories and an
// optional header of the standard size, then synthetic bytes.
std::string PeImage(PeForm form, std::size_t size = 1024);

// Positions in such an image of the optional header's fields the launcher
// reads: its magic, SizeOfHeaders, NumberOfRvaAndSizes, the security
// directory's offset (its size follows 4 bytes on), and the file header's
// SizeOfOptionalHeader.
std::size_t OptionalMagicAt();
std::size_t SizeOfHeadersAt();
std::size_t DirectoryCountAt(PeForm form);
std::size_t SecurityDirectoryAt(PeForm form);
std::size_t SizeOfOptionalHeaderAt();

void PutLe16(std::string &bytes, std::size_t at, std::uint16_t value);
void PutLe32(std::string &bytes, std::size_t at, std::uint32_t value);

// A certificate table of size bytes (a multiple of 8) whose last bytes,
// read as a carrier's tail, are a sound directory of one record named
// "rogue" covering the first 16 bytes of the file: a reader that takes the
// end of a signed file for the payload's end extracts that file.
std::string RogueTable(std::size_t size = 512);

// carrier, whose image must be a PeImage of form, signed: padded with zeros
// to a multiple of 8, table appended, the security directory set to it.
std::string SignCarrier(std::string carrier, PeForm form, const std::string &table);

} // namespace test

#endif

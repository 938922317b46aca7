// Helpers for the whole-run evidence tests: a sandbox a launcher runs in,
// snapshots of a file tree, and the programs a launcher leaves running.
#ifndef TESTS_SUPPORT_EVIDENCE_SUPPORT_H
#define TESTS_SUPPORT_EVIDENCE_SUPPORT_H

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "carrier_fixture.h"
#include "support.h"

namespace evidence {

// The marker key and the codes the report can carry.
inline constexpr char kMarkerKey[] = "Software\\Corvane\\Quillmere\\1.5";
inline constexpr char kRepeatCode[] = "99999999999";
inline constexpr char kFallbackCode[] = "00000000000";

// A carrier named as users get it: its code is kNameCode.
inline constexpr char kCarrierName[] = "Product_12345678901.exe";
inline constexpr char kNameCode[] = "12345678901";

// "Analysis.ini" as a previous run left it, with a section of someone else's,
// and as this run may leave it: the two keys of section "Setup" each hold
// either the previous value or this run's.
inline constexpr char kPreviousOem[] = "55555555555";
inline constexpr char kPreviousTimes[] = "7";
std::string Report(const std::string &oem, const std::string &times);

// A user's world: HOME with the key store under XDG_CONFIG_HOME, the
// temporary directory, where the carrier lies, and an empty working
// directory.
struct Sandbox {
    Sandbox();
    test::ScratchDir root;
    std::filesystem::path home, config, temp, dist, cwd;
    // The directory the key store keeps its keys in.
    std::filesystem::path KeyStore() const;
    // TMPDIR as the launcher takes it, with its trailing separator.
    std::string TempDir() const;
};

// image, then the files back to back, then their directory and count.
std::string Carrier(const std::string &image, const std::vector<test::CarrierFile> &files);

// A whole file, read at the speed the sweep needs (istreambuf_iterator is
// slow in a sanitized build); throws when it can't be read.
std::string ReadFile(const std::filesystem::path &file);

// Every directory, file and link under root by its relative path, with its
// kind, permission bits and content (a link's target).
using Tree = std::map<std::string, std::string>;
Tree Snapshot(const std::filesystem::path &root);

// The paths that were added, removed or changed between two snapshots.
std::vector<std::string> Changes(const Tree &before, const Tree &after);

// Makes this process the reaper of its orphaned descendants, so a program a
// launcher started and left comes back here to be waited for.
void BecomeSubreaper();

// Waits until no child is left (at most a few seconds); returns how many
// were reaped.
int ReapChildren();

// Descriptors open in this process.
int OpenDescriptors();

// Whether the marker key exists in the key store under config.
bool MarkerExists(const std::filesystem::path &config);

} // namespace evidence

#endif

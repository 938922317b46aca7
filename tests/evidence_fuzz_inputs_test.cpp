// The carrier fuzz target's checks, replayed in the ordinary sanitized build
// over every input it keeps: the committed corpus and each input that ever
// made it fail (tests/fuzz/regressions, filled by bench/fuzz.sh). A failing
// check aborts with the target's message; the input's name is printed first.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "evidence_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

namespace fs = std::filesystem;

TEST(FuzzInputs, EveryKeptInputPassesTheTargetsChecks)
{
    std::vector<fs::path> inputs;
    for (const char *dir : {"corpus", "regressions"}) {
        fs::path path = fs::path(FUZZ_INPUTS) / dir;
        if (!fs::is_directory(path))
            continue;
        for (const fs::directory_entry &entry : fs::directory_iterator(path))
            inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
    ASSERT_FALSE(inputs.empty());

    for (const fs::path &input : inputs) {
        std::fprintf(stderr, "input %s\n", input.c_str());
        std::string bytes = evidence::ReadFile(input);
        EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size()), 0);
    }
}

} // namespace

// A marker key that cannot be created, on the real services: below a
// volatile key the registry refuses a non-volatile one. The emulation's
// counterpart is the fault sweep of oem_fault_test.
#include <gtest/gtest.h>

#include <string>

#include "oem_support.h"
#include "support.h"

namespace {

using namespace oem_test;

TEST(OemMarkerVolatile, NotCreatableMarkerLeavesTheFirstRunToCome)
{
    test::ScratchDir temp;
    const std::string report = (temp.path() / "Analysis.ini").string();
    HKEY key;

    ResetMarker();
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kMarkerRoot, 0, NULL, REG_OPTION_VOLATILE,
                              KEY_WRITE, NULL, &key, NULL),
              ERROR_SUCCESS);
    RegCloseKey(key);

    WriteOemReport(kCodedPath, temp.withSeparator().c_str());
    EXPECT_EQ(test::ReadBytes(report), NewReport(kCodedName));
    EXPECT_FALSE(KeyExists(OEM_MARKER_KEY));

    // Once the key can be created, the next run reports the name's code
    // again and sets the marker.
    ResetMarker();
    WriteOemReport(kCodedPath, temp.withSeparator().c_str());
    EXPECT_EQ(test::ReadBytes(report), NewReport(kCodedName));
    EXPECT_TRUE(KeyExists(OEM_MARKER_KEY));
    ResetMarker();
}

} // namespace

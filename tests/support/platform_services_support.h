// Helpers for the registry, profile and program-start tests, which run both
// against the emulation and, in the Windows builds, against the real services.
#ifndef TESTS_SUPPORT_PLATFORM_SERVICES_SUPPORT_H
#define TESTS_SUPPORT_PLATFORM_SERVICES_SUPPORT_H

#include "platform.h"

#ifndef _WIN32
#include "fault.h"
#endif

#include <random>
#include <string>

namespace test {

// True against the emulation, false against the real Windows services. Cases
// that only the emulation keeps (Wine rewrites a whole profile file, for
// one) are skipped on Windows.
#ifdef _WIN32
inline constexpr bool kEmulated = false;
#else
inline constexpr bool kEmulated = true;
#endif

// Registry keys the emulation holds open; always 0 on Windows, which does
// not count them for us.
inline long KeysHeld()
{
#ifdef _WIN32
    return 0;
#else
    return PlatformResourcesHeld(RESOURCE_KEY);
#endif
}

// Makes the nth service call from now fail once (emulation only).
inline void ArmFault(unsigned long nth)
{
#ifdef _WIN32
    (void)nth;
#else
    PlatformFaultArm(nth, FALSE);
#endif
}

inline void DisarmFaults() { ArmFault(0); }

// A name no other test run uses, for keys and files that must not collide.
inline std::string UniqueName(const std::string &stem)
{
    std::random_device rd;
    return stem + "-" + std::to_string(rd()) + "-" + std::to_string(rd());
}

} // namespace test

#endif

# The registry, profile and program-start services. The registry and profile
# contracts also run against the real services under Wine.
launcher_test(NAME platform_registry_test SOURCES platform_registry_test.cpp WINE)
launcher_test(NAME platform_profile_test SOURCES platform_profile_test.cpp WINE)

camctl_add_fuzzer(settings_fuzzer SOURCES settings_fuzzer.cpp LIBS platform)

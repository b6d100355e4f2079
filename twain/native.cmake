# Byte-level container code: native unit tests under the sanitizers and a fuzz target.
pagorex_native_sources(twain/container_bytes.cpp twain/container_read.cpp twain/container_edit.cpp
                       twain/container_pixel.cpp)
pagorex_native_tests(tests/caps/native/container_bytes_test.cpp tests/caps/container_bytes.cpp)
pagorex_fuzzer(container SOURCES tests/twain/fuzz/fuzz_container.cpp
               CORPUS ${CMAKE_SOURCE_DIR}/tests/twain/fuzz/corpus_container)

# The virtual scanner's profile parser reads files written by integrators and tests.
pagorex_native_sources(tools/vscanner/profile.cpp tools/vscanner/cap_script.cpp)
pagorex_native_tests(tests/twain/native/profile_test.cpp)
pagorex_fuzzer(profile SOURCES tests/twain/fuzz/fuzz_profile.cpp
               CORPUS ${CMAKE_SOURCE_DIR}/tests/twain/fuzz/corpus_profile)

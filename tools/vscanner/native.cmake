# The virtual scanner's byte-level code: the profile parser reads files written by
# integrators and tests, and the pages, strips and files it sends are checked natively.
pagorex_native_sources(tools/vscanner/profile.cpp tools/vscanner/cap_script.cpp tools/vscanner/page.cpp
                       tools/vscanner/mem_strips.cpp)
pagorex_native_tests(tests/twain/native/profile_test.cpp tests/twain/native/page_test.cpp)
pagorex_fuzzer(profile SOURCES tests/twain/fuzz/fuzz_profile.cpp
               CORPUS ${CMAKE_SOURCE_DIR}/tests/twain/fuzz/corpus_profile)

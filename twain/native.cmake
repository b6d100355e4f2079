# Byte-level container code: native unit tests under the sanitizers and a fuzz target.
pagorex_native_sources(twain/container_bytes.cpp twain/container_read.cpp twain/container_edit.cpp
                       twain/container_pixel.cpp)
pagorex_native_tests(tests/caps/native/container_bytes_test.cpp tests/caps/container_bytes.cpp)
pagorex_fuzzer(container SOURCES tests/twain/fuzz/fuzz_container.cpp
               CORPUS ${CMAKE_SOURCE_DIR}/tests/twain/fuzz/corpus_container)


# Byte-level DIB and bitmap-file code, built natively under the sanitizers.
pagorex_native_sources(dib/dib_bytes.cpp dib/dib_pixels.cpp dib/dib_rows.cpp dib/dib_upright.cpp dib/dib_turn.cpp dib/dib_export.cpp
                       dib/dib_scale.cpp)
pagorex_native_tests(tests/dib/native/dib_safety_test.cpp tests/dib/native/dib_bytes_test.cpp
                     tests/dib/native/dib_upright_test.cpp tests/dib/native/dib_turn_test.cpp)
pagorex_fuzzer(bmp SOURCES tests/dib/fuzz/fuzz_bmp.cpp CORPUS ${CMAKE_SOURCE_DIR}/tests/dib/fuzz/corpus)

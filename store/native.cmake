# Byte-level code of the image store, built natively under ASan/UBSan.
pagorex_native_sources(store/index_record.cpp)
pagorex_native_tests(tests/store/native/index_record_test.cpp)

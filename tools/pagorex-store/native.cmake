# pagorex-store for Linux: build/native/pagorex-store, and the end-to-end cases run on it.
# Its image writers read bytes they did not write: they are built with the byte-level code,
# under the sanitizers for their tests.
pagorex_native_sources(tools/pagorex-store/flate_stream.cpp tools/pagorex-store/png_writer.cpp
                       tools/pagorex-store/pdf_writer.cpp tools/pagorex-store/jbig2_encoder.cpp
                       tools/pagorex-store/srgb_profile.cpp)
pagorex_native_tests(tests/store/tool/png_writer_test.cpp)
set_source_files_properties(${SRC}/tools/pagorex-store/flate_stream.cpp PROPERTIES COMPILE_OPTIONS -O3)
pagorex_native_program(pagorex-store
  SOURCES tools/pagorex-store/main.cpp tools/pagorex-store/store_tool.cpp tools/pagorex-store/survey_commands.cpp
          tools/pagorex-store/export_command.cpp tools/pagorex-store/export_image.cpp
          tools/pagorex-store/document_finder.cpp
          tools/pagorex-store/output_file.cpp tools/pagorex-store/platform_posix.cpp
  TESTS tests/store/tool/tool_cases.cpp tests/store/tool/tool_run_posix.cpp tests/support/store_files.cpp
        tests/store/tool/export_formats_test.cpp tests/store/tool/jbig2_encoder_test.cpp tests/imaging/test_page.cpp)
# The JBIG2 encoder's streams, decoded back by jbig2dec.
pagorex_fuzzer(jbig2 SOURCES tests/store/fuzz/fuzz_jbig2.cpp)

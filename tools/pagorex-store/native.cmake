# pagorex-store for Linux: build/native/pagorex-store, and the end-to-end cases run on it.
pagorex_native_program(pagorex-store
  SOURCES tools/pagorex-store/main.cpp tools/pagorex-store/store_tool.cpp tools/pagorex-store/survey_commands.cpp
          tools/pagorex-store/export_command.cpp tools/pagorex-store/output_file.cpp
          tools/pagorex-store/platform_posix.cpp
  TESTS tests/store/tool/tool_cases.cpp tests/store/tool/tool_run_posix.cpp tests/support/store_files.cpp)

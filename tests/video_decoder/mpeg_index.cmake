# Tests of the MPEG file index (included by this folder's CMakeLists.txt).
calvex_test(mpeg_index_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/gop_index_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/index_cache_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mpeg_scanner_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mpeg_test_media.cpp
    ${PROJECT_SOURCE_DIR}/tests/video_encoder/encoder_test_support.cpp
  DEPS calvex_mpeg_index calvex_mpeg_audio calvex_video_encoder calvex_mux)

# Tests of the MPEG to AVI driver and the information readers; they run the command line too.
find_package(nlohmann_json REQUIRED)
calvex_test(mpeg_to_avi_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/cut_file_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mpeg_to_avi_driver_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mpeg_test_media.cpp
    ${CMAKE_CURRENT_LIST_DIR}/output_frame_rate_test.cpp
    ${PROJECT_SOURCE_DIR}/tests/video_encoder/encoder_test_support.cpp
  DEPS calvex_mpeg_to_avi calvex_video_encoder calvex_mux nlohmann_json::nlohmann_json)
add_dependencies(mpeg_to_avi_tests calvex)
target_compile_definitions(mpeg_to_avi_tests PRIVATE CALVEX_BINARY="$<TARGET_FILE:calvex>")

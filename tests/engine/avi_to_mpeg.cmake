# Tests of the AVI to MPEG driver (included by this folder's CMakeLists.txt).
calvex_test(avi_to_mpeg_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/avi_to_mpeg_driver_test.cpp
    ${PROJECT_SOURCE_DIR}/tests/video_encoder/encoder_test_support.cpp
  DEPS calvex_avi_to_mpeg calvex_engine)

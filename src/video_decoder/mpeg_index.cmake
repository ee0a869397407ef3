# The MPEG file index: start-code scanning of elementary and system streams, the picture index of
# groups of pictures, the frame-count estimate and the index cache.
calvex_library(calvex_mpeg_index
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/gop_index.cpp
    ${CMAKE_CURRENT_LIST_DIR}/index_cache.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mpeg_file_reader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mpeg_scanner.cpp
    ${CMAKE_CURRENT_LIST_DIR}/video_packets.cpp
  DEPS calvex_engine_core)

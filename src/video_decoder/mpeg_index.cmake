# The MPEG file index: start-code scanning of elementary and system streams, the picture index of
# groups of pictures, the frame-count estimate and the index cache.
calvex_library(calvex_mpeg_index
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/gop_index.cpp
    ${CMAKE_CURRENT_LIST_DIR}/index_cache.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mpeg_file_reader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mpeg_scanner.cpp
    ${CMAKE_CURRENT_LIST_DIR}/video_packets.cpp
  DEPS calvex_core calvex_video_decoder)

# The MPEG to AVI driver and the MPEG information reader, over the video decoder, the sound
# decoder and the media layer's AVI writer.
calvex_library(calvex_mpeg_to_avi
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/mpeg_decoder_session.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mpeg_to_avi_driver.cpp
    ${CMAKE_CURRENT_LIST_DIR}/output_frame_rate.cpp
    ${CMAKE_CURRENT_LIST_DIR}/system_video_source.cpp
  DEPS calvex_mpeg_index calvex_video_decoder calvex_audio_decoder calvex_mpeg_audio
       calvex_media calvex_core)

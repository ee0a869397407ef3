# The AVI to MPEG driver (included by this folder's CMakeLists.txt).
calvex_library(calvex_avi_to_mpeg
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/avi_to_mpeg_driver.cpp ${CMAKE_CURRENT_LIST_DIR}/avi_to_mpeg_sound.cpp
  DEPS calvex_engine_core calvex_media calvex_video_encoder calvex_audio_encoder_driver calvex_mux)

# The media layer's AVI reading against the ffmpeg command line: CPU time for frames and sound.
add_executable(media_library_vs_ffmpeg ${CMAKE_CURRENT_LIST_DIR}/media_library_vs_ffmpeg.cpp)
target_link_libraries(media_library_vs_ffmpeg PRIVATE calvex_media calvex_bench_support)

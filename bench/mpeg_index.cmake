# The MPEG file index and the MPEG to AVI driver against the ffmpeg command line: CPU time.
add_executable(mpeg_to_avi_vs_ffmpeg ${CMAKE_CURRENT_LIST_DIR}/mpeg_to_avi_vs_ffmpeg.cpp)
target_link_libraries(mpeg_to_avi_vs_ffmpeg PRIVATE calvex_mpeg_to_avi calvex_bench_support)

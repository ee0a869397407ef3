# An AVI movie with sound to an MPEG-1 system stream through the whole engine, against ffmpeg's
# mpeg1video + mp2 + mpeg muxer: speed and PSNR.
add_executable(avi_with_sound_vs_ffmpeg ${CMAKE_CURRENT_LIST_DIR}/avi_with_sound_vs_ffmpeg.cpp)
target_link_libraries(avi_with_sound_vs_ffmpeg PRIVATE calvex_engine calvex_bench_support)

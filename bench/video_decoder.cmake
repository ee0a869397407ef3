# The video decoder against ffmpeg's and libmpeg2's decoders: pictures per second and ratios.
add_executable(video_decoder_vs_peers ${CMAKE_CURRENT_LIST_DIR}/video_decoder_vs_peers.cpp)
target_link_libraries(video_decoder_vs_peers PRIVATE calvex_video_decoder calvex_bench_support)

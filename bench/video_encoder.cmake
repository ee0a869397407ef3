# The video encoder against ffmpeg's mpeg1video encoder: speed, PSNR and bit rate.
add_executable(video_encoder_vs_ffmpeg ${CMAKE_CURRENT_LIST_DIR}/video_encoder_vs_ffmpeg.cpp)
target_link_libraries(video_encoder_vs_ffmpeg PRIVATE calvex_video_encoder calvex_bench_support)
if(TARGET calvex)
  # Also times whole conversions with the command line.
  target_compile_definitions(video_encoder_vs_ffmpeg PRIVATE CALVEX_CLI="$<TARGET_FILE:calvex>")
  add_dependencies(video_encoder_vs_ffmpeg calvex)
endif()

# Our encoder alone on raw frames, for profilers (callgrind).
add_executable(video_encoder_raw ${CMAKE_CURRENT_LIST_DIR}/video_encoder_raw.cpp)
target_link_libraries(video_encoder_raw PRIVATE calvex_video_encoder calvex_bench_support)

# Quality per bit on photographs panned and zoomed: our presets against ffmpeg's mpeg1video.
add_executable(natural_content_vs_ffmpeg ${CMAKE_CURRENT_LIST_DIR}/natural_content_vs_ffmpeg.cpp)
target_link_libraries(natural_content_vs_ffmpeg PRIVATE calvex_video_encoder calvex_bench_support)

# The picture and motion search kernels of every kernel set.
if(benchmark_FOUND)
  add_executable(video_encoder_kernels ${CMAKE_CURRENT_LIST_DIR}/video_encoder_kernels.cpp)
  target_link_libraries(video_encoder_kernels PRIVATE calvex_video_encoder
    benchmark::benchmark_main)
endif()

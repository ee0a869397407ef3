# The audio encoder against its peers (twolame's model 2, ffmpeg's mp2 encoder) on a 60 s stereo
# WAV at 192 kbit/s, and its kernels (plain against vectorised) under Google Benchmark.
add_executable(audio_encoder_peers ${CMAKE_CURRENT_LIST_DIR}/audio_encoder_peers.cpp)
target_link_libraries(audio_encoder_peers PRIVATE calvex_audio_encoder)

if(benchmark_FOUND)
  add_executable(audio_encoder_kernels ${CMAKE_CURRENT_LIST_DIR}/audio_encoder_kernels.cpp)
  target_link_libraries(audio_encoder_kernels PRIVATE calvex_audio_encoder benchmark::benchmark_main)
endif()

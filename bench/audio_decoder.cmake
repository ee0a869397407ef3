# MPEG audio decoder: the synthesis kernels and frame decoding (Google Benchmark), and the
# comparison with mpg123 and ffmpeg on a 60 s stereo file (audio_decoder_peers).
if(benchmark_FOUND)
  add_executable(audio_decoder_bench ${CMAKE_CURRENT_LIST_DIR}/audio_decoder_bench.cpp)
  target_link_libraries(audio_decoder_bench PRIVATE calvex_audio_decoder benchmark::benchmark)
endif()

add_executable(audio_decoder_peers ${CMAKE_CURRENT_LIST_DIR}/audio_decoder_peers.cpp)
target_link_libraries(audio_decoder_peers PRIVATE calvex_audio_decoder)

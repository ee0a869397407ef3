# The video encoder against ffmpeg's mpeg1video encoder: speed, PSNR and bit rate.
add_executable(video_encoder_vs_ffmpeg ${CMAKE_CURRENT_LIST_DIR}/video_encoder_vs_ffmpeg.cpp)
target_link_libraries(video_encoder_vs_ffmpeg PRIVATE calvex_video_encoder)

# G.726 decoder, sound devices (PortAudio and a virtual one) and the audio player. The player
# is a stream worker fed by a frame chain, so the codec library links the stream library here.
pkg_check_modules(PORTAUDIO REQUIRED IMPORTED_TARGET portaudio-2.0)
list(APPEND CODEC_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/audio_player.cpp
  ${CMAKE_CURRENT_LIST_DIR}/g726.cpp
  ${CMAKE_CURRENT_LIST_DIR}/g726_adpcm.cpp
  ${CMAKE_CURRENT_LIST_DIR}/g726_tables.cpp
  ${CMAKE_CURRENT_LIST_DIR}/library_use.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sound_device.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sound_events.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sound_portaudio.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sound_ring.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sound_virtual.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wav_writer.cpp
)
list(APPEND CODEC_LIBS PkgConfig::PORTAUDIO stream)
# With ALSA below PortAudio, its error printing is turned off (see sound_portaudio.cpp).
pkg_check_modules(ALSA IMPORTED_TARGET alsa)
if(ALSA_FOUND)
  list(APPEND CODEC_LIBS PkgConfig::ALSA)
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/sound_portaudio.cpp
    PROPERTIES COMPILE_DEFINITIONS CAMCTL_QUIET_ALSA=1)
endif()

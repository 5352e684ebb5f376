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
# dlopen: JACK's message hooks are looked up, not linked (see sound_portaudio.cpp).
list(APPEND CODEC_LIBS PkgConfig::PORTAUDIO stream ${CMAKE_DL_LIBS})
# With ALSA below PortAudio, its error printing is turned off on the calling thread while
# PortAudio probes (see sound_portaudio.cpp); that needs ALSA's thread-local handler.
pkg_check_modules(ALSA IMPORTED_TARGET alsa)
if(ALSA_FOUND)
  include(CheckSymbolExists)
  set(CMAKE_REQUIRED_INCLUDES ${ALSA_INCLUDE_DIRS})
  set(CMAKE_REQUIRED_LIBRARIES ${ALSA_LINK_LIBRARIES})
  check_symbol_exists(snd_lib_error_set_local "alsa/asoundlib.h" CAMCTL_HAVE_ALSA_LOCAL_ERROR)
  unset(CMAKE_REQUIRED_INCLUDES)
  unset(CMAKE_REQUIRED_LIBRARIES)
endif()
if(CAMCTL_HAVE_ALSA_LOCAL_ERROR)
  list(APPEND CODEC_LIBS PkgConfig::ALSA)
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/sound_portaudio.cpp
    PROPERTIES COMPILE_DEFINITIONS CAMCTL_QUIET_ALSA=1)
endif()

# SPDX-License-Identifier: GPL-3.0-or-later
# One INTERFACE target carries the language level, warnings and sanitizer
# flags; every target of ours links it instead of editing global flags.
add_library(vantor_options INTERFACE)
target_compile_features(vantor_options INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(vantor_options INTERFACE -Wall -Wextra -Wpedantic -Wold-style-cast
                                                -Wnon-virtual-dtor -Woverloaded-virtual)
# GCC 12 warns of overlapping memcpy inside std::string's operator+ at -O3
# (GCC bug 105329), a false positive in libstdc++ rather than in our code.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(vantor_options INTERFACE -Wno-restrict)
endif()
if(VANTOR_WERROR)
  target_compile_options(vantor_options INTERFACE -Werror)
endif()

if(VANTOR_SANITIZE)
  set(_vantor_san_flags -fsanitize=${VANTOR_SANITIZE} -fno-omit-frame-pointer)
  if(VANTOR_SANITIZE MATCHES "undefined")
    list(APPEND _vantor_san_flags -fno-sanitize-recover=undefined)
  endif()
  # GCC 12 reports maybe-uninitialized inside libstdc++ (std::function in
  # std::regex) when the sanitizers instrument it; it is not our code.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    list(APPEND _vantor_san_flags -Wno-maybe-uninitialized)
  endif()
  target_compile_options(vantor_options INTERFACE ${_vantor_san_flags})
  target_link_options(vantor_options INTERFACE -fsanitize=${VANTOR_SANITIZE})
  # Timing tests allow for the sanitizers' slowdown.
  target_compile_definitions(vantor_options INTERFACE VANTOR_SANITIZED=1)
endif()

# Builds hardened as Debian builds its packages (dpkg-buildflags with
# hardening=+all): fortified library calls (level 3 where the compiler has
# it), stack protector and stack clash protection, position-independent
# executables, and the relocations read-only before the program runs (full
# RELRO). Not with the sanitizers, which bring checks of their own.
option(VANTOR_HARDEN "Harden the build as Debian packages are" ON)
if(VANTOR_HARDEN AND NOT VANTOR_SANITIZE)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12)
    set(_vantor_fortify 3)
  else()
    set(_vantor_fortify 2)
  endif()
  # Fortification needs the optimiser: not in a Debug build.
  target_compile_options(vantor_options INTERFACE
      -fstack-protector-strong -fstack-clash-protection
      $<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=${_vantor_fortify}>)
  target_link_options(vantor_options INTERFACE -Wl,-z,relro -Wl,-z,now)
  include(CheckPIESupported)
  check_pie_supported()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
endif()

# What every target on Qt carries besides: connections that name their
# context object, no narrowing in connected arguments, and nothing that Qt
# deprecated up to the version Debian 12 ships.
add_library(vantor_qt_options INTERFACE)
target_compile_definitions(vantor_qt_options INTERFACE
    QT_NO_CONTEXTLESS_CONNECT
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_DISABLE_DEPRECATED_UP_TO=0x060400)

# Builds freestanding PE32+ EFI images with clang and lld-link, from the same sources the host
# libraries use. Every source is compiled by a custom command, so the host compiler and the
# image compiler are independent within one configure.

find_program(EFI_CLANGXX NAMES clang++ clang++-14 REQUIRED)
find_program(EFI_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)

# Flags of every image, whatever its processor.
set(EFI_CXX_FLAGS
  -std=c++20
  -O2
  -ffreestanding
  -fno-exceptions
  -fno-rtti
  -fno-stack-protector
  -fno-threadsafe-statics
  ${RBAR_WARNING_FLAGS}
  # Firmware never runs static constructors: no global may need one.
  -Wglobal-constructors
  -Wexit-time-destructors
  # One section per function and constant, so that the link drops what nothing calls or reads.
  -ffunction-sections
  -fdata-sections
  # Zero-initialized globals in .data's file bytes, not as a section with no file data: shim
  # refuses an image whose section has no file data (its file offset, 0, lies in the headers).
  -fno-zero-initialized-in-bss
  ${RBAR_PREFIX_MAP_FLAGS}
  -I${CMAKE_SOURCE_DIR}
  -I${CMAKE_BINARY_DIR})

# Link options of every image: unreferenced sections dropped, identical ones folded, the
# read-only data placed in the code section, which saves a section header and the padding of
# a section of its own, and a header time stamp of 0 instead of the link's time, so that the
# same sources always give the same bytes. (/Brepro would stamp a hash of the contents, but
# adds a debug directory entry that costs the boot image a 512-byte file block.)
set(EFI_LINK_FLAGS /opt:ref /opt:icf /merge:.rdata=.text /timestamp:0)

# Every image carries SBAT metadata (a .sbat section), which shim needs to start it.
set(EFI_SBAT_SOURCE ${CMAKE_BINARY_DIR}/firmware/SbatSection.cpp)
configure_file(${CMAKE_SOURCE_DIR}/firmware/SbatSection.cpp.in ${EFI_SBAT_SOURCE} @ONLY)

# Per processor: the target, what its firmware asks of the code, and lld-link's machine.
# x86-64 firmware takes interrupts on the running stack, so nothing may live below the stack
# pointer (no red zone); AArch64's procedure call convention has no red zone to begin with.
# x86-64 images use the general registers only: U-Boot's x86-64 UEFI leaves SSE disabled, and
# there the first SSE instruction (a zeroing xorps, a movaps of a record) resets the machine.
# On AArch64 the compiler may not merge or widen accesses into unaligned ones, so that the
# image runs whether or not the firmware leaves alignment checking on.
set(EFI_ARCHES x86-64 aarch64)
set(EFI_TARGET_x86-64 x86_64-unknown-windows)
set(EFI_ARCH_FLAGS_x86-64 -mno-red-zone -mgeneral-regs-only)
set(EFI_MACHINE_x86-64 x64)
set(EFI_TARGET_aarch64 aarch64-unknown-windows)
set(EFI_ARCH_FLAGS_aarch64 -mstrict-align)
set(EFI_MACHINE_aarch64 arm64)

# add_efi_image(NAME SOURCES src... [SUBSYSTEM efi_boot_service_driver] [ENTRY DriverEntry]
#               [ARCH x86-64|aarch64])
# produces ${CMAKE_BINARY_DIR}/NAME.efi and a target NAME built by default.
function(add_efi_image NAME)
  cmake_parse_arguments(ARG "" "SUBSYSTEM;ENTRY;ARCH" "SOURCES" ${ARGN})
  if(NOT ARG_ARCH)
    set(ARG_ARCH x86-64)
  endif()
  if(NOT ARG_ARCH IN_LIST EFI_ARCHES)
    message(FATAL_ERROR "add_efi_image(${NAME}): ARCH ${ARG_ARCH} is not one of ${EFI_ARCHES}")
  endif()
  set(target_flags --target=${EFI_TARGET_${ARG_ARCH}} ${EFI_ARCH_FLAGS_${ARG_ARCH}})
  if(NOT ARG_SUBSYSTEM)
    set(ARG_SUBSYSTEM efi_boot_service_driver)
  endif()
  if(NOT ARG_ENTRY)
    set(ARG_ENTRY DriverEntry)
  endif()
  set(objects)
  foreach(source ${ARG_SOURCES} ${EFI_SBAT_SOURCE})
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
    cmake_path(RELATIVE_PATH source BASE_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE relative)
    if(relative MATCHES "^\\.\\.")
      cmake_path(RELATIVE_PATH source BASE_DIRECTORY ${CMAKE_BINARY_DIR} OUTPUT_VARIABLE relative)
      set(relative "generated/${relative}")
    endif()
    set(object ${CMAKE_BINARY_DIR}/efi/${NAME}/${relative}.obj)
    # A source may carry options of its own for the image (an optimisation level, say) in its
    # EFI_COMPILE_OPTIONS property; they come after the common ones.
    get_source_file_property(source_options ${source} EFI_COMPILE_OPTIONS)
    if(NOT source_options)
      set(source_options)
    endif()
    cmake_path(GET object PARENT_PATH object_dir)
    add_custom_command(
      OUTPUT ${object}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${object_dir}
      COMMAND ${EFI_CLANGXX} ${target_flags} ${EFI_CXX_FLAGS} ${source_options} -MD -MF ${object}.d
              -c ${source} -o ${object}
      DEPENDS ${source}
      DEPFILE ${object}.d
      COMMENT "EFI compile ${relative}"
      COMMAND_EXPAND_LISTS
      VERBATIM)
    list(APPEND objects ${object})
  endforeach()
  set(image ${CMAKE_BINARY_DIR}/${NAME}.efi)
  add_custom_command(
    OUTPUT ${image}
    COMMAND ${EFI_LLD_LINK} /nologo /machine:${EFI_MACHINE_${ARG_ARCH}} /subsystem:${ARG_SUBSYSTEM} /entry:${ARG_ENTRY}
            /nodefaultlib /dynamicbase /debug:none /map:${CMAKE_BINARY_DIR}/${NAME}.map
            ${EFI_LINK_FLAGS} /include:RbarSbat /out:${image} ${objects}
    DEPENDS ${objects}
    COMMENT "EFI link ${NAME}.efi"
    VERBATIM)
  add_custom_target(${NAME} ALL DEPENDS ${image})
endfunction()

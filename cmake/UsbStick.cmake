# The bootable USB stick: build/rbar-survey-usb/ holds the boot images at the removable-media
# paths firmware starts by itself (\EFI\BOOT\BOOTX64.EFI, \EFI\BOOT\BOOTAA64.EFI) and a
# README.TXT; build/rbar-survey-usb.img is a raw disk image (GPT, one FAT32 EFI system
# partition) of that folder, to write onto a stick as it is.

set(RBAR_USB_FOLDER ${CMAKE_BINARY_DIR}/rbar-survey-usb)
set(RBAR_USB_IMAGE ${CMAKE_BINARY_DIR}/rbar-survey-usb.img)
# README.TXT carries the project version and CR LF line ends, as Windows' editors expect.
set(RBAR_USB_README ${CMAKE_BINARY_DIR}/README.TXT)
configure_file(${CMAKE_SOURCE_DIR}/boot/UsbStickReadme.txt.in ${RBAR_USB_README} @ONLY
               NEWLINE_STYLE CRLF)
set(RBAR_USB_SCRIPT ${CMAKE_SOURCE_DIR}/scripts/make-usb-image.sh)

add_custom_command(
  OUTPUT ${RBAR_USB_IMAGE}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${RBAR_USB_FOLDER}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${RBAR_USB_FOLDER}/EFI/BOOT
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_BINARY_DIR}/RbarSurveyBoot.efi
          ${RBAR_USB_FOLDER}/EFI/BOOT/BOOTX64.EFI
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_BINARY_DIR}/RbarSurveyBootAA64.efi
          ${RBAR_USB_FOLDER}/EFI/BOOT/BOOTAA64.EFI
  COMMAND ${CMAKE_COMMAND} -E copy ${RBAR_USB_README} ${RBAR_USB_FOLDER}/README.TXT
  COMMAND ${RBAR_USB_SCRIPT} ${RBAR_USB_IMAGE} ${RBAR_USB_FOLDER}
  DEPENDS RbarSurveyBoot RbarSurveyBootAA64 ${CMAKE_BINARY_DIR}/RbarSurveyBoot.efi
          ${CMAKE_BINARY_DIR}/RbarSurveyBootAA64.efi ${RBAR_USB_README} ${RBAR_USB_SCRIPT}
  COMMENT "Making the USB stick image rbar-survey-usb.img"
  VERBATIM)
add_custom_target(rbar-survey-usb ALL DEPENDS ${RBAR_USB_IMAGE})

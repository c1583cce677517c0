// Configuration space read through libpci, once, into a preview image: this machine's through
// libpci's automatic access method, a dump file's through its dump method.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/source/PreviewImage.h"

// Reads every function of this machine, as many of its bytes as the process may read (64, 256
// or 4096). Functions not even 64 bytes of which can be read are left out, with a warning in
// Warnings. A fatal libpci error ends the process with PREVIEW_EXIT_FAILURE after naming it.
void ReadMachineImage(PreviewImage &Image, std::vector<std::string> &Warnings);

// Reads the dump file at Path, or standard input when Path is "-" (called "<stdin>" in
// messages). The text is first checked by the strict dump parser, so that a fault is reported
// as "PATH:LINE: what is wrong"; then libpci's dump method reads it, and both must agree on
// every function. Returns false with Error set on a fault.
// StdinText, when given, receives standard input's text.
bool ReadDumpImage(const std::string &Path, PreviewImage &Image, std::string &Error,
                   std::string *StdinText = nullptr);

// The sizes Linux gives each BAR 0 to 5 of this machine's functions (libpci's PCI_FILL_SIZES;
// 0 where none is known), by function. Nothing is sized by writing: the sizes are Linux's own.
using MachineBarSizes = std::map<FunctionKey, std::array<uint64_t, 6>>;
MachineBarSizes ReadMachineBarSizes();

// What differs between the chain-loader's builds: the load options each started image gets when
// the chain-loader has none of its own (or, for a build that always passes them, in any case),
// and what it does just before it starts an image.
#pragma once

#include "firmware/UefiBase.h"

struct ChainLoadPolicy {
  const CHAR16 *Options;
  // Bytes of Options, its terminator included.
  UINT32 OptionsSize;
  // The chain-loader's own load options are passed on when it has some.
  bool OwnOptionsWin;
};

// The build's policy; defined by ChainLoadCountdown.cpp or ChainLoadWatchdog.cpp.
extern const ChainLoadPolicy CHAIN_LOAD_POLICY;

// Called right before each StartImage.
void BeforeStartImage();

// The chain-loader's usual build: a boot image it starts returns right after its report, unless
// the chain-loader was given load options of its own (U-Boot's bootargs), which it passes on.
#include "tests/firmware/ChainLoadPolicy.h"

namespace {
constexpr CHAR16 COUNTDOWN_NONE[] = u"countdown=0";
} // namespace

extern const ChainLoadPolicy CHAIN_LOAD_POLICY = {COUNTDOWN_NONE, sizeof(COUNTDOWN_NONE), true};

void BeforeStartImage() {}

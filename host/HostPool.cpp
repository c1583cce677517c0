// Pool memory with accounting: every buffer is recorded, so a leak, a double free or the free
// of a buffer the pool never gave out is found. Freed blocks stay reserved until the platform
// goes, so that no later allocation can hide a double free.
#include <cstring>

#include "host/HostPlatform.h"

namespace {

// Fresh pool memory holds this pattern, so that reading it before writing shows.
constexpr uint8_t POOL_FILL_PATTERN = 0xAF;

} // namespace

EFI_STATUS EFIAPI HostAllocatePool(EFI_MEMORY_TYPE PoolType, UINTN Size, void **Buffer) {
  HostPlatform &Platform = *ActiveHostPlatform;
  const std::optional<EFI_STATUS> Fault = Platform.NextFault(HostCall::AllocatePool);
  if (Fault && EfiIsError(*Fault)) {
    return *Fault;
  }
  if (Buffer == nullptr) {
    Platform.Violation("AllocatePool called without a result pointer");
    return EFI_INVALID_PARAMETER;
  }
  if (PoolType != EfiBootServicesData) {
    Platform.Violation("AllocatePool of memory type " + std::to_string(PoolType));
  }
  void *Address = Platform.PoolAllocate(Size, PoolType);
  *Buffer = Address;
  return Fault.value_or(EFI_SUCCESS);
}

EFI_STATUS EFIAPI HostFreePool(void *Buffer) {
  HostPlatform &Platform = *ActiveHostPlatform;
  const std::optional<EFI_STATUS> Fault = Platform.NextFault(HostCall::FreePool);
  const auto Found = Platform.Pool.find(Buffer);
  if (Found == Platform.Pool.end()) {
    Platform.Violation("FreePool of a buffer the pool never gave out");
    return EFI_INVALID_PARAMETER;
  }
  if (Found->second.Freed) {
    Platform.Violation("FreePool of a buffer already freed");
    return EFI_INVALID_PARAMETER;
  }
  if (Fault && EfiIsError(*Fault)) {
    // The failed free still counts as the driver's one attempt: the buffer is not leaked by it.
    Found->second.Freed = true;
    return *Fault;
  }
  Found->second.Freed = true;
  return Fault.value_or(EFI_SUCCESS);
}

void *HostPlatform::PoolAllocate(size_t Size, EFI_MEMORY_TYPE Type) {
  PoolBlock Block;
  Block.Size = Size;
  Block.Type = Type;
  Block.Bytes = std::make_unique<uint8_t[]>(Size == 0 ? 1 : Size);
  std::memset(Block.Bytes.get(), POOL_FILL_PATTERN, Size);
  void *Address = Block.Bytes.get();
  Pool.emplace(Address, std::move(Block));
  return Address;
}

size_t HostPlatform::OutstandingPoolBuffers() const {
  size_t Outstanding = 0;
  for (const auto &[Address, Block] : Pool) {
    Outstanding += Block.Freed ? 0 : 1;
  }
  return Outstanding;
}

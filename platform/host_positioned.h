// Positioned reads: threads that read one file at once, each through its own handle, share no
// seek pointer and take no lock.
#pragma once

#include <cstdint>

#include "platform/host.h"

namespace host {

// FileRead from `offset` on, leaving the handle's position alone: bytes read (0 at the end), or
// -1 on failure (LastError() says why).
int32_t FileReadAt(THandle handle, void* buffer, uint32_t count, int64_t offset);

}  // namespace host

// memory: zeroed blocks for large tables that are touched all over, such as the settings
// file's indexes, and large pages under buffers about to be filled whole.
#pragma once

#include <cstddef>

namespace platform {

// Zeroed memory of the given size, null where the system has none. Pages never written cost
// nothing. With largePages, a large block is asked for in the system's large pages where it has
// them, so that filling it at random costs a fault and a translation miss every 2 MiB instead
// of every 4 KiB; but then one write anywhere in 2 MiB makes all of it resident, so it is for
// blocks that are filled throughout, or small enough to be resident whole.
void *allocateZeroed(std::size_t bytes, bool largePages);
// Gives back a block from allocateZeroed, with the size and the choice it was asked for with.
void freeZeroed(void *block, std::size_t bytes, bool largePages);
// Asks for large pages under the part of memory not yet written, such as the room reserved
// for a whole file about to be read, where that part spans any.
void preferLargePages(void *memory, std::size_t bytes);

} // namespace platform

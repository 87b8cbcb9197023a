#pragma once

#include <isa-l/igzip_lib.h>

#include <cstdint>
#include <memory>

// An ISA-L inflate state, some 40 KiB and so not on the stack, for a stream
// in wrapper (ISAL_GZIP or ISAL_ZLIB): it reads the stream's header and
// checks its trailer's checksum.
inline std::unique_ptr<inflate_state> NewInflateState(int wrapper)
{
    auto state = std::make_unique<inflate_state>();
    isal_inflate_init(state.get());
    state->crc_flag = std::uint32_t(wrapper);
    return state;
}

// Whether a status of isal_inflate says that the stream is damaged: no
// export deflates with a preset dictionary, so one that asks for it is too.
inline bool IsDamagedStream(int status)
{
    return status < 0 || status == ISAL_NEED_DICT;
}

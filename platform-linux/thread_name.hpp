#pragma once
// Names the calling thread, as shown by ps and debuggers.

#include <string_view>

namespace mirravale::platform {

// Linux keeps at most 15 bytes of a thread name: longer names are set as their first 15 bytes
// (prctl cuts them, where pthread_setname_np would refuse them).
void set_thread_name(std::string_view name);

}  // namespace mirravale::platform

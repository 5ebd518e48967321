// The trusted-devices reader on arbitrary bytes: it must never crash, and whatever it accepts
// must come back unchanged through the writer.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "host/trust_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto devices = mirravale::host::read_trusted_devices(text);
    if (!devices.ok()) {
        if (devices.error().empty()) {
            std::abort();  // every refusal says why
        }
        return 0;
    }
    const auto again =
        mirravale::host::read_trusted_devices(mirravale::host::write_trusted_devices(*devices));
    if (!again.ok() || *again != *devices) {
        std::abort();
    }
    return 0;
}

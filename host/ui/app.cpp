#include "host/ui/app.hpp"

namespace mirravale::host::ui {

Status run_desktop(const DesktopContext&) {
    return fail("the desktop interface is not built yet");
}

}  // namespace mirravale::host::ui

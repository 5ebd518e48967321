#pragma once
// Open at Login, kept as the desktop's autostart entry for this program. The entry itself is the
// switch and the state: nothing else is stored, so the menu's check mark always shows what the
// next login will do.
//
// The controller keeps one `OpenAtLogin` (from `for_this_program`), calls `toggle` from the
// "Open at Login" menu item and then refreshes; each refresh sets the check mark from `enabled`.

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "wire/result.hpp"

namespace mirravale::host::ui {

// "$XDG_CONFIG_HOME/autostart/mirravale.desktop", the config home falling back to
// "$HOME/.config" when unset, empty or not absolute. Fails only when neither is usable.
Result<std::filesystem::path> autostart_path();

// The entry that starts `program` at login: type, name and the program's path as the Exec
// line, quoted and escaped for desktop entries when the path needs it.
std::string autostart_entry(std::string_view program);

// The path of the running program, from /proc/self/exe.
Result<std::string> this_program();

class OpenAtLogin {
  public:
    // The entry of the running program at the user's autostart place. Without a usable place
    // or program path every toggle fails (and says why) and the state reads off.
    static OpenAtLogin for_this_program();

    OpenAtLogin(std::filesystem::path entry, std::string program)
        : entry_(std::move(entry)), program_(std::move(program)) {}
    // One that cannot work, for the given reason.
    static OpenAtLogin unusable(std::string reason);

    // On when the entry exists and does not say Hidden=true. Read anew at every call.
    bool enabled() const;

    // Removes the entry when on, writes it when off. A failure is logged at WARN ("could not
    // change Open at Login: {}", target mirravale::ui::login) and otherwise ignored.
    void toggle();

    // The same, with the failure given back instead of logged.
    Status set(bool on);

    const std::filesystem::path& entry() const { return entry_; }

  private:
    std::filesystem::path entry_;
    std::string program_;
    std::string unusable_;  // why there is no usable entry or program, if so
};

}  // namespace mirravale::host::ui

#include "host/ui/login.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "core/log.hpp"
#include "host/private_file.hpp"
#include "wire/utf8.hpp"

namespace mirravale::host::ui {

namespace fs = std::filesystem;

namespace {

// Characters that make an Exec argument need quotes.
constexpr std::string_view RESERVED = " \t\n\"'\\><~|&;$*?#()`";

std::string quote_argument(std::string_view argument) {
    std::string out;
    const bool quoted = argument.find_first_of(RESERVED) != std::string_view::npos;
    if (quoted) {
        out += '"';
    }
    for (const char c : argument) {
        if (quoted && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            out += '\\';
        }
        if (c == '%') {
            out += '%';  // a lone % would start a field code
        }
        out += c;
    }
    if (quoted) {
        out += '"';
    }
    return out;
}

// The escapes of a desktop entry's string values; applied after the quoting, since readers undo
// them first.
std::string escape_string(std::string_view value) {
    std::string out;
    for (const char c : value) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// Hidden=true in the main group switches the entry off without removing it.
bool says_hidden(std::istream& in) {
    bool main_group = false;
    std::string line;
    while (std::getline(in, line)) {
        const std::string_view text = trim(line);
        if (text.starts_with('[')) {
            main_group = text == "[Desktop Entry]";
            continue;
        }
        const auto equals = text.find('=');
        if (main_group && equals != std::string_view::npos &&
            trim(text.substr(0, equals)) == "Hidden") {
            return trim(text.substr(equals + 1)) == "true";
        }
    }
    return false;
}

}  // namespace

Result<fs::path> autostart_path() {
    fs::path config;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && fs::path(xdg).is_absolute()) {
        config = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || !fs::path(home).is_absolute()) {
            return fail("neither XDG_CONFIG_HOME nor HOME names a folder");
        }
        config = fs::path(home) / ".config";
    }
    return config / "autostart" / "mirravale.desktop";
}

std::string autostart_entry(std::string_view program) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Mirravale\n"
           "Exec=" +
           escape_string(quote_argument(program)) + "\n";
}

Result<std::string> this_program() {
    std::error_code error;
    const fs::path path = fs::read_symlink("/proc/self/exe", error);
    if (error) {
        return fail("cannot find this program: " + error.message());
    }
    return path.string();
}

OpenAtLogin OpenAtLogin::unusable(std::string reason) {
    OpenAtLogin login({}, {});
    login.unusable_ = std::move(reason);
    return login;
}

OpenAtLogin OpenAtLogin::for_this_program() {
    auto entry = autostart_path();
    if (!entry) {
        return unusable(entry.error());
    }
    auto program = this_program();
    if (!program) {
        return unusable(program.error());
    }
    return OpenAtLogin(std::move(*entry), std::move(*program));
}

bool OpenAtLogin::enabled() const {
    if (!unusable_.empty()) {
        return false;
    }
    std::error_code error;
    if (!fs::exists(entry_, error)) {
        return false;
    }
    std::ifstream in(entry_);
    return !says_hidden(in);
}

Status OpenAtLogin::set(bool on) {
    if (!unusable_.empty()) {
        return fail(unusable_);
    }
    std::error_code error;
    if (!on) {
        fs::remove(entry_, error);
        if (error) {
            return fail("cannot remove " + entry_.string() + ": " + error.message());
        }
        return {};
    }
    // A desktop entry is UTF-8 throughout; a path that is not cannot be written into one.
    if (!wire::is_utf8(program_)) {
        return fail("the program's path is not UTF-8: " + wire::to_valid_utf8(program_));
    }
    const fs::path folder = entry_.parent_path();
    fs::create_directories(folder, error);
    if (error) {
        return fail("cannot create " + folder.string() + ": " + error.message());
    }
    return write_private(entry_, autostart_entry(program_));
}

void OpenAtLogin::toggle() {
    if (const Status changed = set(!enabled()); !changed) {
        log::get("mirravale::ui::login")
            ->warn("could not change Open at Login: {}", changed.error());
    }
}

}  // namespace mirravale::host::ui

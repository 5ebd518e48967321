#pragma once
// The interface's texts in English and French. The English text is the key; the language is
// decided once per process from the user's first preferred language.
//
// Inside a QObject subclass an unqualified `tr` finds QObject::tr first: write `ui::tr`.

#include <cstdint>
#include <string>
#include <string_view>

#include <QString>
#include <QStringList>

namespace mirravale::host::ui {

// The phone application's web address, shown in the window's footer.
inline constexpr std::string_view PHONE_APP_ADDRESS = "https://mirravale.app/iphone";

// French exactly when the first entry exists and its UTF-8 bytes start with "fr".
bool french_from_languages(const QStringList& preferred);

// The language flag: decided on first use from QLocale::system().uiLanguages(), then fixed.
bool is_french();

// Fixes the flag as if it had been decided so; tests use it to show both languages.
void decide_language(bool french);

// The French entry when the flag is French and `english` is a key; otherwise `english` as is.
QString tr(std::string_view english);

// Texts with values, formatted from the current language's template.
QString connected_to(const std::string& device_name);
// `remaining` in seconds; the seconds are written with two digits.
QString code_renews_in(const std::string& address, std::uint64_t remaining);
QString streaming_at(const std::string& address, std::uint32_t width, std::uint32_t height,
                     unsigned fps);
// `count` devices, `first` the most recently seen; no devices gives the "none yet" text.
QString paired_devices_line(std::size_t count, const std::string& first);
QString footer_line();

}  // namespace mirravale::host::ui

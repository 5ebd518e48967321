#pragma once
// The keyboard side of input injection that needs no X server: the key table (macOS virtual key
// code to X keysym), turning text into keys and chunks, and the pool of spare keycodes that
// characters missing from the keyboard map are bound to.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

namespace mirravale::platform {

using Keysym = std::uint32_t;

// The rows of a key table in its tab-separated form: the first column is the virtual key code,
// the fifth the keysym in hex; a keysym of 0 means the key has no X equivalent.
std::unordered_map<std::uint16_t, Keysym> parse_key_table(std::string_view tsv);

// The keysym for a virtual key code from the built-in table, if the key has one.
std::optional<Keysym> keysym_for_key(std::uint16_t keycode);

// The keysym that types one character: Latin-1 keysyms are the code points themselves, all
// other characters use the Unicode keysym range.
Keysym keysym_for_char(char32_t c);

inline constexpr std::uint16_t TAB_KEY = 48;
inline constexpr std::uint16_t RETURN_KEY = 36;
inline constexpr std::size_t MAX_CHUNK_UNITS = 20;

// What typing a text comes down to: whole keys (tab, return) between chunks of characters of at
// most MAX_CHUNK_UNITS UTF-16 units each.
using TextStep = std::variant<std::uint16_t, std::u32string>;
std::vector<TextStep> plan_text(std::string_view utf8);

// Spare keycodes with the keysyms bound to them, reused least-recently. A keycode whose key is
// down is pinned and never rebound.
class SparePool {
  public:
    explicit SparePool(std::vector<int> keycodes = {});

    // The keycode that types `sym`, if one is bound to it; counts as a use.
    std::optional<int> find(Keysym sym);
    // Binds `sym` to the least recently used keycode that is neither pinned nor listed in
    // `keep`; none when every keycode is taken.
    std::optional<int> bind(Keysym sym, const std::vector<int>& keep = {});
    void pin(int keycode);
    void unpin(int keycode);
    void unpin_all();
    // Forgets a keycode that something else has taken over.
    void drop(int keycode);
    // The keysym bound to a keycode of the pool (0: none).
    Keysym bound_to(int keycode) const;
    // Keycodes with a keysym bound; afterwards none is bound.
    std::vector<int> take_bound();
    std::vector<int> keycodes() const;

  private:
    struct Slot {
        int keycode;
        Keysym sym = 0;
        std::uint64_t used = 0;
        int pins = 0;
    };
    Slot* slot(int keycode);
    const Slot* slot(int keycode) const;
    std::vector<Slot> slots_;
    std::uint64_t clock_ = 0;
};

}  // namespace mirravale::platform

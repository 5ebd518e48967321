#include "host/ui/texts.hpp"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <utility>

#include <fmt/format.h>
#include <QLocale>

namespace mirravale::host::ui {

namespace {

struct Entry {
    std::string_view english;
    std::string_view french;
};

// Spaces before the French ":" and "?" are ordinary spaces.
constexpr Entry TABLE[] = {
    {"Allow…", "Autoriser…"},
    {"New Code", "Nouveau code"},
    {"Copy Link", "Copier le lien"},
    {"Copied ✓", "Copié ✓"},
    {"Disconnect", "Déconnecter"},
    {"Allowed ✓", "Autorisé ✓"},
    {"Close Window", "Fermer la fenêtre"},
    {"Open at Login", "Ouvrir à l’ouverture de session"},
    {"Forget Devices", "Oublier"},
    {"Quit Mirravale", "Quitter Mirravale"},
    {"Not on a network", "Aucun réseau"},
    {"Disconnect Phone", "Déconnecter le téléphone"},
    {"Copy Pairing Link", "Copier le lien d’association"},
    {"Drag into the list", "Glissez dans la liste"},
    {"Show Pairing Code…", "Afficher le code d’association…"},
    {"No paired devices yet", "Aucun appareil associé pour l’instant"},
    {"Waiting for your iPhone", "En attente de votre iPhone"},
    {"Forget All Paired Devices", "Oublier tous les appareils associés"},
    {"Drag Mirravale into the list", "Glissez Mirravale dans la liste"},
    {"Control this Mac from your iPhone", "Contrôlez ce Mac depuis votre iPhone"},
    {"Accessibility — to click and type", "Accessibilité — pour cliquer et écrire"},
    {"Connect this Mac to Wi-Fi or Ethernet", "Connectez ce Mac au Wi-Fi ou en Ethernet"},
    {"Screen Recording — to show the screen", "Enregistrement d’écran — pour le voir"},
    {"Open Mirravale on your iPhone and scan this code.",
     "Ouvrez Mirravale sur votre iPhone et scannez ce code."},
    {"Mirravale for iPhone:", "Mirravale pour iPhone :"},
    {"Drag this icon into the list, then switch Mirravale on. Already there but not working? "
     "Remove it with −, then drag it in again.",
     "Glissez cette icône dans la liste, puis activez Mirravale. Déjà là mais sans effet ? "
     "Retirez-le avec −, puis glissez-le à nouveau."},
};

enum Language : int { UNDECIDED = 0, ENGLISH = 1, FRENCH = 2 };
std::atomic<int> language{UNDECIDED};

// Picks the current language's template of a text with values.
std::string_view pick(std::string_view english, std::string_view french) {
    return is_french() ? french : english;
}

QString from_utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString from_utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

bool french_from_languages(const QStringList& preferred) {
    if (preferred.isEmpty()) {
        return false;
    }
    const QByteArray first = preferred.front().toUtf8();
    return first.size() >= 2 && first[0] == 'f' && first[1] == 'r';
}

bool is_french() {
    int decided = language.load(std::memory_order_acquire);
    if (decided == UNDECIDED) {
        const int found = french_from_languages(QLocale::system().uiLanguages()) ? FRENCH : ENGLISH;
        // Whoever decides first wins; a racing caller takes that decision.
        language.compare_exchange_strong(decided, found, std::memory_order_acq_rel);
        decided = language.load(std::memory_order_acquire);
    }
    return decided == FRENCH;
}

void decide_language(bool french) {
    language.store(french ? FRENCH : ENGLISH, std::memory_order_release);
}

QString tr(std::string_view english) {
    if (is_french()) {
        const auto* entry = std::find_if(std::begin(TABLE), std::end(TABLE),
                                         [&](const Entry& e) { return e.english == english; });
        if (entry != std::end(TABLE)) {
            return from_utf8(entry->french);
        }
    }
    return from_utf8(english);
}

QString connected_to(const std::string& device_name) {
    return from_utf8(
        fmt::format(fmt::runtime(pick("● Connected to {}", "● Connecté à {}")), device_name));
}

QString code_renews_in(const std::string& address, std::uint64_t remaining) {
    return from_utf8(fmt::format(
        fmt::runtime(pick("{} · this code renews in {}:{:02}", "{} · nouveau code dans {}:{:02}")),
        address, remaining / 60, remaining % 60));
}

QString streaming_at(const std::string& address, std::uint32_t width, std::uint32_t height,
                     unsigned fps) {
    return from_utf8(fmt::format(
        fmt::runtime(pick("{} · streaming {}×{} at {} fps", "{} · diffusion {}×{} à {} i/s")),
        address, width, height, fps));
}

QString paired_devices_line(std::size_t count, const std::string& first) {
    if (count == 0) {
        return tr("No paired devices yet");
    }
    const std::size_t more = count - 1;
    if (more == 0) {
        return from_utf8(fmt::format(fmt::runtime(pick("Paired: {}", "Associé : {}")), first));
    }
    if (!is_french()) {
        return from_utf8(fmt::format("Paired: {} and {} more", first, more));
    }
    if (more == 1) {
        return from_utf8(fmt::format("Associés : {} et 1 autre", first));
    }
    return from_utf8(fmt::format("Associés : {} et {} autres", first, more));
}

QString footer_line() {
    return tr("Mirravale for iPhone:") + QLatin1Char(' ') + from_utf8(PHONE_APP_ADDRESS);
}

}  // namespace mirravale::host::ui

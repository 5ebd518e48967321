#include <gtest/gtest.h>

#include <string>

#include "host/ui/texts.hpp"

namespace ui = mirravale::host::ui;

namespace {

std::string utf8(const QString& text) {
    return text.toStdString();
}

// Restores English for the tests that follow, whichever language a test chose.
class UiTexts : public ::testing::Test {
  protected:
    void TearDown() override { ui::decide_language(false); }
};

TEST_F(UiTexts, FirstPreferredLanguageDecides) {
    struct Case {
        QStringList preferred;
        bool french;
    };
    const Case cases[] = {
        {{"fr"}, true},
        {{"fr-FR", "en-US"}, true},
        {{"fr-CH"}, true},
        {{"fr-CA"}, true},
        {{"en-FR", "fr-FR"}, false},
        {{"de"}, false},
        {{"FR"}, false},  // the two letters are compared in lower case only
        {{"f"}, false},
        {{""}, false},
        {{}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ui::french_from_languages(c.preferred), c.french)
            << c.preferred.join(',').toStdString();
    }
}

TEST_F(UiTexts, TranslatesKeysExactlyAndPassesOtherTextsThrough) {
    struct Case {
        const char* english;
        const char* french;
    };
    const Case cases[] = {
        {"Allow…", "Autoriser…"},
        {"Forget Devices", "Oublier"},
        {"Open at Login", "Ouvrir à l’ouverture de session"},
        {"Mirravale for iPhone:", "Mirravale pour iPhone :"},
        {"Screen Recording — to show the screen", "Enregistrement d’écran — pour le voir"},
        {"Drag this icon into the list, then switch Mirravale on. Already there but not working? "
         "Remove it with −, then drag it in again.",
         "Glissez cette icône dans la liste, puis activez Mirravale. Déjà là mais sans effet ? "
         "Retirez-le avec −, puis glissez-le à nouveau."},
        // Not keys: a phone name, a key with other case, a key with a plain "..." for "…".
        {"Ada’s phone", "Ada’s phone"},
        {"new code", "new code"},
        {"Allow...", "Allow..."},
        {"", ""},
    };
    for (const auto& c : cases) {
        ui::decide_language(false);
        EXPECT_EQ(utf8(ui::tr(c.english)), c.english);
        ui::decide_language(true);
        EXPECT_EQ(utf8(ui::tr(c.english)), c.french);
    }
}

TEST_F(UiTexts, TextsWithValuesFollowTheLanguage) {
    struct Case {
        bool french;
        QString text;
        const char* expected;
    };
    const auto make = [](bool french) {
        ui::decide_language(french);
        return std::vector<Case>{
            {french, ui::connected_to("Ada"), french ? "● Connecté à Ada" : "● Connected to Ada"},
            {french, ui::code_renews_in("10.0.0.2:47474", 125),
             french ? "10.0.0.2:47474 · nouveau code dans 2:05"
                    : "10.0.0.2:47474 · this code renews in 2:05"},
            {french, ui::code_renews_in("a:1", 5),
             french ? "a:1 · nouveau code dans 0:05" : "a:1 · this code renews in 0:05"},
            {french, ui::code_renews_in("a:1", 0),
             french ? "a:1 · nouveau code dans 0:00" : "a:1 · this code renews in 0:00"},
            {french, ui::code_renews_in("a:1", 600),
             french ? "a:1 · nouveau code dans 10:00" : "a:1 · this code renews in 10:00"},
            {french, ui::streaming_at("a:1", 1920, 1080, 60),
             french ? "a:1 · diffusion 1920×1080 à 60 i/s" : "a:1 · streaming 1920×1080 at 60 fps"},
            {french, ui::paired_devices_line(0, ""),
             french ? "Aucun appareil associé pour l’instant" : "No paired devices yet"},
            {french, ui::paired_devices_line(1, "Ada"), french ? "Associé : Ada" : "Paired: Ada"},
            {french, ui::paired_devices_line(2, "Ada"),
             french ? "Associés : Ada et 1 autre" : "Paired: Ada and 1 more"},
            {french, ui::paired_devices_line(3, "Ada"),
             french ? "Associés : Ada et 2 autres" : "Paired: Ada and 2 more"},
            {french, ui::footer_line(),
             french ? "Mirravale pour iPhone : https://mirravale.app/iphone"
                    : "Mirravale for iPhone: https://mirravale.app/iphone"},
        };
    };
    for (bool french : {false, true}) {
        for (const auto& c : make(french)) {
            EXPECT_EQ(utf8(c.text), c.expected) << (c.french ? "fr" : "en");
        }
    }
}

TEST_F(UiTexts, ValuesAreNeverReadAsTemplates) {
    ui::decide_language(false);
    EXPECT_EQ(utf8(ui::connected_to("{} {0} {:x}")), "● Connected to {} {0} {:x}");
    EXPECT_EQ(utf8(ui::paired_devices_line(4, "{}")), "Paired: {} and 3 more");
}

}  // namespace

#pragma once

// Installs Qt's German translation of its own texts (file dialogs, the
// context menus of text fields, standard buttons, the command-line help)
// into the running application. The program speaks German whatever locale
// the user has set, so the catalogue is chosen by name, not by the locale.
// Returns false when the catalogue is not installed; Qt's texts stay English
// then and nothing else changes.
bool installGermanQtTranslations();

// Qt's own texts in the program's language: the buttons of every message box (Yes, No, OK,
// Cancel), the file dialogs and the standard context menus. They come from Qt's translation
// files (Debian: qt6-translations-l10n, qtbase_zh_CN.qm in Qt's translations folder) and switch
// at run time with the language.
#pragma once

#include <QString>
#include <cstdint>

namespace tessel {

// Installs Qt's translations for the language (1: Chinese, zh_CN) or removes them (English,
// Qt's own). False when the Chinese ones cannot be loaded (the package is missing); Qt's texts
// then stay English.
bool ApplyQtTranslations(uint8_t language);

// The folder the translations are read from: TESSEL_QT_TRANSLATIONS when set, else Qt's.
QString QtTranslationsFolder();

}  // namespace tessel

#include "ui/common/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdlib>

#include "model/settings.h"

namespace tessel {

namespace {
QTranslator* g_installed = nullptr;  // owned by the application object
}

QString QtTranslationsFolder() {
  if (const char* dir = std::getenv("TESSEL_QT_TRANSLATIONS"); dir && *dir)
    return QString::fromLocal8Bit(dir);
  return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

bool ApplyQtTranslations(uint8_t language) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return false;
  if (!IsChinese(language)) {
    if (g_installed) {
      QCoreApplication::removeTranslator(g_installed);
      delete g_installed;
      g_installed = nullptr;
    }
    return true;
  }
  if (g_installed) return true;
  auto* translator = new QTranslator(app);
  if (!translator->load(QStringLiteral("qtbase_zh_CN"), QtTranslationsFolder())) {
    delete translator;
    return false;
  }
  QCoreApplication::installTranslator(translator);
  g_installed = translator;
  return true;
}

}  // namespace tessel

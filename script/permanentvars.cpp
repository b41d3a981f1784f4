#include "script/permanentvars.h"

#include <QCoreApplication>
#include <QTimer>

#include "script/var.h"

namespace {
bool saveArmed = false;
}  // namespace

void InstallPermanentVariables(const std::string& path) {
  VAR::LoadPermanentVar(path);
  VAR::onPermanentChange = [] {
    if (saveArmed || !QCoreApplication::instance()) return;
    saveArmed = true;
    QTimer::singleShot(1000, QCoreApplication::instance(), [] {
      saveArmed = false;
      VAR::SavePermanentVar();
    });
  };
}

void SavePermanentVariablesNow() { VAR::SavePermanentVar(); }

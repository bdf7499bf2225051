// Qt's own texts (standard buttons, file dialogs, context menus) in the
// language of the window's own texts.
#pragma once

class QObject;

// Loads Qt's Chinese translations from Qt's translations folder and installs
// them in the application; they live as children of owner and are removed
// with it. False when they are not installed on this machine (Qt's texts then
// stay in English).
bool installQtTranslations(QObject *owner);

// Qt's own texts (the buttons of message boxes, the file dialogs and their
// questions) in German like the rest of the program, whatever language the
// desktop is set to: the program has no other.
#pragma once

class QCoreApplication;
class QTranslator;

// Loads Qt's German catalogue qtbase_de from Qt's translations directory
// (Debian package qt6-translations-l10n) and installs it in `application`,
// which owns it. nullptr when the catalogue is not there: Qt's texts then
// stay English.
QTranslator* InstallGermanToolkitTexts(QCoreApplication& application);

#pragma once

// Qt's own texts in German: key names in menus ("Strg+N") and the buttons
// and labels of Qt's standard dialogs, from the translations Qt ships.

class QCoreApplication;

namespace qvb {

// True when Qt's German translations were found and installed for `app`.
bool installGermanQtTexts(QCoreApplication& app);

}  // namespace qvb

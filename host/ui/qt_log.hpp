#pragma once
// Qt's own messages (warnings of the platform plugin, of widgets, ...) go to the program's log,
// target mirravale::ui, with the level Qt gave them and their category as a field.

#include <QtGlobal>

namespace mirravale::host::ui {

// Installs the handler for the rest of the process; call it before the application object is
// made, so that its first messages are caught too.
void route_qt_messages();

// The handler itself, for tests.
void log_qt_message(QtMsgType type, const QMessageLogContext& context, const QString& message);

}  // namespace mirravale::host::ui

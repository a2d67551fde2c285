// The document commands of the main window: New, Open and the load step, Close, Save, Save as.
#pragma once

#include <QString>

namespace lw {

class ReportFrame;
class TForm1;

// New: an editor window for an empty definition ("No Name " + n + 1, state 3).
TForm1* newDocument(ReportFrame& frame);

// Open: the open dialog, then the load step, then the recent-files list.
void openDocument(ReportFrame& frame);

// The load step shared by Open and the recent-files items. Returns the new window, or nullptr
// when the file was refused with a message; notDefinition (when given) tells whether the refusal
// was for a file that is not a report definition at all (binary, or text without "REPORT").
TForm1* loadDocument(ReportFrame& frame, const QString& path, bool* notDefinition = nullptr);

// Close: closes the active editor window through its own close handling.
void closeDocument(ReportFrame& frame);

// Save and Save as on one editor window. Return true when the definition was written;
// false when the user cancelled the Save-as dialog. A refused write throws ProfileWriteError.
bool saveDocument(ReportFrame& frame, TForm1* window);
bool saveDocumentAs(ReportFrame& frame, TForm1* window);

} // namespace lw

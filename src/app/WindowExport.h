// File > Export: the export dialog chooses the columns and the format, the
// save dialog the file, and the grid is written through the exports with
// exactly the chosen columns shown. The columns are shown and hidden only
// for the export: whether it succeeds or fails, the grid's columns are as
// they were before it, and the View > Columns check marks never change.
// A failed export names the file and the reason, and leaves an existing
// file as it was (the exports write through a temporary file).
#pragma once

#include "app/ExportDialog.h"
#include "export/ExportFile.h"
#include "grid/model/DBGrid.h"
#include "platform/core/ColorScheme.h"

namespace marrowick {

// The exports' format for the dialog's choice.
exports::TExportFormat ExportFormatOf(TExportFormat format);

// Runs the command. Cancelling either dialog changes nothing. A pending
// edit of the current record is posted before the file is written, so the
// file holds what the grid shows; if that post fails, nothing is written.
// Errors are raised for the window's error display.
void ExportGridToFile(grid::TCustomDBGrid& grid, IExportDialog& exportDialog, ISaveDialog& saveDialog,
                      const platform::IColorScheme& colors);

}  // namespace marrowick

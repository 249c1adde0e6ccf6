// Export to CSV: the records the grid shows, in its order, as lines of the
// visible columns' values, written in UTF-8.
//
// Values are written as they read in the grid. One that holds a comma, a
// double quote, a line break or leading blanks is put in double quotes with
// its quotes doubled, so that every reader of CSV files gets each value
// back whole; the rest are written bare. Lines end with CR LF; there is no
// header line.
#pragma once

#include <string>
#include <vector>

#include <QString>
#include <QStringList>

namespace norvale {

class TDbfTable;
class TLongWork;

// One value as it goes into a line.
QString CsvField(const QString& value);
// One line of values, without its line end.
QString CsvLine(const QStringList& values);

// The file of the open `table` (its .dbf, memo file or an open index file)
// that `path` names; empty when it names none of them.
QString OwnFileNamed(TDbfTable& table, const QString& path);

// Writes a line of `fields` for every record `walker` visits, to a new file
// beside `path` that replaces it only once complete: a failure or a Cancel
// (EAbort from `work`) keeps an older file of that name as it was. Raises
// EDbfError with the reason when the file cannot be written. Returns the
// number of lines.
int64_t WriteCsvFile(TDbfTable& walker, const std::vector<std::string>& fields, const QString& path,
                     TLongWork& work);

}  // namespace norvale

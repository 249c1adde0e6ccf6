// The checks a change of a table's fields passes before the table is
// closed: names, types, sizes, and what other parts of the table (its
// indexes, its values) say about the change.
#pragma once

#include <QString>
#include <QStringList>

#include "engine/fields.h"

namespace norvale {

class TDbfTable;

// The longest field name the table's level keeps.
int MaxFieldNameLength(int level);

// Why `name` cannot name a field of `defs` (the field at `except` aside);
// empty when it can.
QString FieldNameProblem(const QString& name, int level, const TDbfFieldDefs& defs, int except = -1);

// The native letter of a type name of the Add Field list; 0 for none.
char AddTypeLetter(const QString& typeName, int level);
// The logical type of a type name of the Alter Field list.
TFieldType AlterType(const QString& typeName);

// The size a field of `letter` takes from the text typed: the fixed size
// of types that have one, else the whole number typed within the type's
// range. Empty `problem` when it fits.
int FieldSize(char letter, const QString& text, int level, QString* problem);

// The open indexes whose key uses field `field`, by name.
QStringList IndexesUsingField(TDbfTable& table, const QString& field);

// How many records hold a value of character field `field` longer than
// `size` once its trailing blanks are gone.
int64_t ValuesLongerThan(TDbfTable& table, const QString& field, int size);

// A copy of the open table's field definitions, each copied from its own
// field, for the restructure.
void CopyFieldDefs(const TDbfTable& table, TDbfFieldDefs& into);

}  // namespace norvale

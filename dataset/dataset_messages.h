// Every message text the dataset layer raises, verbatim.
#pragma once

namespace norvale::msg {

inline constexpr const char* kDataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr const char* kDataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr const char* kDataSetEmpty = "Cannot perform this operation on an empty dataset";
inline constexpr const char* kDataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr const char* kNotEditing = "Dataset not in edit or insert mode";
inline constexpr const char* kFieldNotFound = "Field '%s' not found";
inline constexpr const char* kFieldReadOnly = "Field '%s' cannot be modified";
inline constexpr const char* kOperationAborted = "Operation aborted";
inline constexpr const char* kInvalidFloat = "'%s' is not a valid floating point value";
inline constexpr const char* kInvalidDate = "'%s' is not a valid date and time";
inline constexpr const char* kInvalidBoolean = "'%s' is not a valid boolean value for field '%s'";
inline constexpr const char* kNotBlobField = "Field '%s' is not a blob field";
// A filter is a condition: a value of any other type says nothing about a
// record, so it is refused when set rather than judged by its first byte.
inline constexpr const char* kFilterNotLogical = "Filter must be a logical expression.";
// The filter text, the physical record number and the evaluation's own message.
inline constexpr const char* kFilterFailed = "Filter \"%s\" failed on record %lld: %s";
// Why a table asked for writing opens read-only.
inline constexpr const char* kReadOnlyRequested = "The table was opened read-only.";
inline constexpr const char* kReadOnlyNoWriteAccess = "The file \"%s\" may not be written, so the table is opened read-only.";
inline constexpr const char* kReadOnlySizeMismatch =
    "The header of \"%s\" counts %u records, but the file's size holds %u. The table is opened read-only and "
    "nothing in it is changed; repair the header to edit it.";
inline constexpr const char* kReadOnlyIndex =
    "The index file \"%s\" belongs to this table, but this program cannot keep it current. The table is opened "
    "read-only; edited anyway, the index will be out of date for the programs that use it.";
inline constexpr const char* kReadOnlyDamagedIndex =
    "The index file \"%s\" belongs to this table, but this program cannot keep it current: %s The table is opened read-only; "
    "edited anyway, the index will be out of date for the programs that use it.";
inline constexpr const char* kReadOnlyCodePage = "The table's code page %d cannot be converted, so the table is opened read-only.";
inline constexpr const char* kCircularDataLink = "Circular datalinks are not allowed";
// A master key is compiled over a table file; other datasets have none.
inline constexpr const char* kMasterNotDbfTable = "The master of a detail table must be a DBF table.";
// Index names are checked before an index file is touched.
inline constexpr const char* kIndexNameMissing = "An index needs a name.";
// The name and the longest tag name the production index holds.
inline constexpr const char* kTagNameInvalid =
    "\"%s\" is no valid tag name: at most %d letters, digits and underscores, the first a letter.";
// A table in memory has no files to build a new one beside.
inline constexpr const char* kMemoryRestructure = "A table held in memory cannot be restructured.";

}  // namespace norvale::msg

// Every message text the table engine raises. Other programs' users know these
// words, so they are kept verbatim (their odd spellings included).
#pragma once

namespace norvale::msg {

inline constexpr const char* kInvalidDbfFile = "Invalid DBF file.";
inline constexpr const char* kInvalidFieldType = "Invalid DBF file. or Invalid field type";
inline constexpr const char* kInvalidFieldCount = "Invalid field count: %d (must be between 1 and 4095).";
inline constexpr const char* kRecordLocked = "Record locked.";
inline constexpr const char* kWriteError = "Error while writing occurred. (Disk full?)";
inline constexpr const char* kWriteErrorIndexes =
    "Error while writing occurred; indexes probably corrupted. (Disk full?)";
inline constexpr const char* kKeyViolation =
    "Key violation. (Key already present in file).\r\nIndex: %s\r\nRecord=%d Key='%s'.";
inline constexpr const char* kExclusiveRequired = "Exclusive access is required for this operation.";
inline constexpr const char* kFileNotFound = "Open: file not found: \"%s\".";
inline constexpr const char* kFieldTypeNotSupported =
    "Cannot create field \"%s\", VCL field type %x not supported by DBF.";
inline constexpr const char* kInvalidInteger = "'%s' is not a valid integer value";

inline constexpr const char* kCannotOpenFile = "Cannot open file \"%s\": %s.";
inline constexpr const char* kValueDoesNotFit = "Value %s does not fit field %s (width %d, %d decimals).";
inline constexpr const char* kIndexFiltered =
    "Tag %s of \"%s\" holds only the records a condition selects, which this program cannot evaluate.";
inline constexpr const char* kIndexInMemory = "A table held in memory keeps no index files.";
inline constexpr const char* kIndexNeedsExpression = "A new index needs a key expression.";
inline constexpr const char* kCodePageUnknown = "Code page %d is not one that can be named here.";
inline constexpr const char* kCpgWriteError = "Cannot write \"%s\": %s.";
inline constexpr const char* kMemoFileMissing = "Memo file \"%s\" is missing: the value cannot be stored.";

inline constexpr const char* kInvalidIndexType = "Invalid index type: can only be string or float.";
inline constexpr const char* kTooManyIndexes = "Can not create index: too many indexes in file.";
inline constexpr const char* kIndexDamaged = "Index file \"%s\" is damaged (%s); regenerate the index.";
inline constexpr const char* kIndexLockTimeout = "Index file \"%s\" stays locked by another program; try again later.";

inline constexpr const char* kStructureTooLarge = "Table structure too large for this table type.";
inline constexpr const char* kInvalidFieldTypeFor = "Invalid field type '%s' for field '%s'.";
inline constexpr const char* kFieldNameMissing = "Field %d has no name.";
inline constexpr const char* kFieldNameInvalid = "Field name \"%s\" holds characters a table cannot store.";
inline constexpr const char* kFieldNameRepeated = "Field name \"%s\" appears twice (names are cut to %d characters).";
inline constexpr const char* kNoFields = "A table needs at least one field.";
inline constexpr const char* kNameTaken = "Cannot create \"%s\": %s.";

inline constexpr const char* kSwapFailed = "Cannot replace the files of \"%s\" (%s); the table is unchanged.";
inline constexpr const char* kSwapStuck =
    "The files of \"%s\" could not all be put back (%s; %s); the next open of the table tries again.";
inline constexpr const char* kSwapInProgress = "Table \"%s\" is being rewritten by another program; try again later.";

inline constexpr const char* kValueNotANumber = "Value \"%s\" cannot become a number in field %s.";
inline constexpr const char* kValueNotADate = "Value \"%s\" cannot become a date in field %s.";
inline constexpr const char* kValueNotALogical = "Value \"%s\" cannot become a logical value in field %s.";
inline constexpr const char* kNoConversion = "Field %s cannot change from type %c to type %c.";
inline constexpr const char* kRecordValue = "Record %lld: %s";

inline constexpr const char* kIndexNotRebuilt = "Index %s cannot be built on the new table: %s";

inline constexpr const char* kIndexNameInvalid =
    "Invalid index name \"%s\": at most %d letters, digits or underscores.";

}  // namespace norvale::msg

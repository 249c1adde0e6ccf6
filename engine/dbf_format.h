// The byte layouts of the table and memo files, laid out once. Every other
// file names these constants instead of writing an offset. All integers of a
// table file are little-endian; FoxPro memo headers are big-endian, dBASE
// memo headers little-endian.
//
// TABLE HEADER (offsets from the start of the file)
//
//   offset size meaning
//      0     1  version byte
//      1     1  last update: year - 1900, modulo 256
//      2     1  last update: month (1-12)
//      3     1  last update: day (1-31)
//      4     4  record count (unsigned)
//      8     2  header length = offset of the first record
//     10     2  record length, deletion flag included
//     12    16  reserved; byte 15 is shown as the encryption flag
//     28     1  dBASE: non-zero when a production .mdx belongs to the table;
//               FoxPro: flags, 0x01 structural .cdx, 0x02 memo, 0x04 database
//     29     1  language driver id (not used at dBASE 7)
//     30     2  reserved
//     32    32  dBASE 7 only: language driver name, NUL-padded
//     64     4  dBASE 7 only: reserved
//
// Field descriptors follow at 32 (68 at dBASE 7), then one terminator 0x0D.
// FoxPro headers count 263 further bytes after it.
//
// 32-BYTE FIELD DESCRIPTOR (dBASE III, dBASE IV, FoxPro)
//
//   offset size meaning
//      0    11  field name, NUL-padded (10 characters at most)
//     11     1  native type letter
//     12     4  FoxPro: offset of the field in the record (never read)
//     16     1  field length (low byte)
//     17     1  decimals; FoxPro "C": high byte of the length
//     18     1  FoxPro flags: 0x02 the field may hold null
//     19     4  FoxPro "+": next autoincrement value
//     23     1  FoxPro "+": autoincrement step
//     24     8  reserved
//
// 48-BYTE FIELD DESCRIPTOR (dBASE 7)
//
//   offset size meaning
//      0    32  field name, NUL-padded (31 characters at most)
//     32     1  native type letter
//     33     1  field length
//     34     1  decimals
//     35     7  reserved
//     42     4  "+": next autoincrement value
//     46     2  reserved
//
// DBASE 7 FIELD PROPERTIES (at P, the byte after the terminator)
//
//   offset size meaning
//      0     2  number of standard property entries
//      2     2  start of the entries, relative to P
//   entry j, 15 bytes at P + start + 15 * j:
//      2     2  field number (1-based)
//      4     1  kind: 1 required, 2 minimum, 3 maximum, 4 default
//     11     2  data offset, relative to P
//     13     2  data length
//
// RECORDS
//
// Record N (1-based) lies at header length + (N - 1) * record length. Byte 0
// is the deletion flag: " " live, "*" deleted. One 0x1A follows the last.
//
// _DBASELOCK FIELD (rewritten whenever a record is locked or appended)
//
//   offset size meaning
//      0     2  change counter (LE), wraps
//      2     3  hour, minute, second
//      5     3  year - 1900, month, day
//      8     -  user name (the computer name), space-padded
//
// MEMO FILE HEADER (512 bytes; block N lies at N * block size)
//
//   offset size  .dbt (dBASE)                  .fpt (FoxPro)
//      0     4  next free block (LE)           next free block (BE)
//      6     2  -                              block size (BE)
//     16     1  3 at dBASE III                 -
//     20     2  block size (LE; 512 at III)    -
//
// MEMO BLOCK HEADER (the first block of a value)
//
//   dBASE IV and 7   FF FF 08 00, then data length + 8 (LE 32); data at 8
//   dBASE III        none; the value ends with 1A 1A
//   FoxPro           type (BE 32, 1 = text), data length (BE 32); data at 8
#pragma once

#include <cstdint>

namespace norvale::fmt {

// Table header.
inline constexpr int kVersion = 0;
inline constexpr int kUpdateYear = 1;
inline constexpr int kUpdateMonth = 2;
inline constexpr int kUpdateDay = 3;
inline constexpr int kRecordCount = 4;
inline constexpr int kHeaderLength = 8;
inline constexpr int kRecordLength = 10;
inline constexpr int kEncryptionFlag = 15;
inline constexpr int kIndexFlag = 28;
inline constexpr int kLanguageId = 29;
inline constexpr int kDriverName = 32;
inline constexpr int kDriverNameSize = 32;
inline constexpr int kMainHeaderSize = 32;
inline constexpr int kMainHeaderSizeVII = 68;
inline constexpr int kFoxBacklinkSize = 263;

// Version byte bits and header flags.
inline constexpr uint8_t kMemoBit = 0x80;
inline constexpr uint8_t kFoxStructuralIndex = 0x01;
// The low three bits of the version byte name the family: 3 dBASE III/IV,
// 4 dBASE 7, 2 and 5 FoxPro. Visual FoxPro's bytes name theirs whole.
inline constexpr uint8_t kVersionFamilyMask = 0x07;
inline constexpr uint8_t kFamilyDbase = 3;
inline constexpr uint8_t kFamilyDbaseVII = 4;
inline constexpr uint8_t kFamilyFoxBase = 2;
inline constexpr uint8_t kFamilyFoxPro = 5;
inline constexpr uint8_t kVersionVisualFoxPro = 0x30;
inline constexpr uint8_t kVersionVisualFoxProAutoInc = 0x31;
inline constexpr uint8_t kVersionVisualFoxProVarchar = 0x32;
// The header length is a 16-bit field.
inline constexpr int kMaxHeaderLength = 0xFFFF;

// Field descriptors.
inline constexpr int kDescriptorSize = 32;
inline constexpr int kDescriptorSizeVII = 48;
inline constexpr int kFieldName = 0;
inline constexpr int kFieldNameSize = 11;
inline constexpr int kFieldNameSizeVII = 32;
inline constexpr int kFieldType = 11;
inline constexpr int kFieldTypeVII = 32;
inline constexpr int kFieldLength = 16;
inline constexpr int kFieldLengthVII = 33;
inline constexpr int kFieldDecimals = 17;
inline constexpr int kFieldDecimalsVII = 34;
inline constexpr int kFieldFlags = 18;
inline constexpr uint8_t kFieldNullable = 0x02;
inline constexpr int kFoxAutoIncNext = 19;
inline constexpr int kFoxAutoIncStep = 23;
inline constexpr int kAutoIncNextVII = 42;

// dBASE 7 field properties.
inline constexpr int kPropertiesHeaderSize = 16;
inline constexpr int kPropertyCount = 0;
inline constexpr int kPropertyStart = 2;
inline constexpr int kPropertyEntrySize = 15;
inline constexpr int kPropertyField = 2;
inline constexpr int kPropertyKind = 4;
inline constexpr int kPropertyDataOffset = 11;
inline constexpr int kPropertyDataLength = 13;
inline constexpr int kPropertyRequired = 1;
inline constexpr int kPropertyMinimum = 2;
inline constexpr int kPropertyMaximum = 3;
inline constexpr int kPropertyDefault = 4;

// Records.
inline constexpr uint8_t kLive = ' ';
inline constexpr uint8_t kDeleted = '*';
inline constexpr uint8_t kTerminator = 0x0D;
inline constexpr uint8_t kEndOfFile = 0x1A;

// The lock field.
inline constexpr int kLockCounter = 0;
inline constexpr int kLockHour = 2;
inline constexpr int kLockMinute = 3;
inline constexpr int kLockSecond = 4;
inline constexpr int kLockYear = 5;
inline constexpr int kLockMonth = 6;
inline constexpr int kLockDay = 7;
inline constexpr int kLockUser = 8;

// Memo files.
inline constexpr int kMemoHeaderSize = 512;
inline constexpr int kMemoNextFree = 0;
inline constexpr int kFoxMemoBlockSize = 6;
inline constexpr int kDbaseMemoVersion = 16;
inline constexpr uint8_t kDbaseIIIMemoVersion = 3;
inline constexpr int kDbaseMemoBlockSize = 20;
inline constexpr int kMemoBlockHeaderSize = 8;
inline constexpr uint8_t kDbaseBlockSignature[4] = {0xFF, 0xFF, 0x08, 0x00};
inline constexpr int kMemoDataLength = 4;
inline constexpr uint32_t kFoxMemoText = 1;
// A memo field holds its block number as 10 ASCII digits, or (FoxPro and
// dBASE 7 fields of length 4) as a little-endian 32-bit number.
inline constexpr int kDigitMemoPointerSize = 10;
inline constexpr int kBinaryMemoPointerSize = 4;

}  // namespace norvale::fmt

// INDEX FILES (all integers little-endian; page numbers count 512-byte blocks,
// page N lies at N * 512)
//
//   .ndx: block 0 is the index header; tree pages of 512 bytes.
//   .mdx: blocks 0-3 are the file header and tag table; each tag has a header
//         page of 1024 bytes (index header in its first 256); tree pages of
//         1024 bytes.
//
// MDX FILE HEADER
//
//   offset size meaning
//      0     1  version: 2 level 4, 3 level 7
//      1     3  creation date: year - 1900, month, day
//      4    16  file name without directory and extension, NUL-padded
//     20     2  block size in 512-byte units (2)
//     22     2  tree page length (1024)
//     24     1  production flag (1)
//     25     1  tag slots (48)
//     26     1  tag entry size
//     28     2  tags in use
//     31     1  language driver id; 0 none
//     32     4  next free block
//     44     3  last update: year - 1900, month, day
//    512     -  reserved tag slot (its byte 17 is 1); tag i at 512 + size * (i + 1)
//
// MDX TAG ENTRY          level 4        level 7
//   header page block       0 (4)          0 (4)
//   name, NUL-terminated    4 (11)         4 (33)
//   key format             15             37
//   forward tag 1, 2       16, 17         38, 39
//   backward tag           18             40
//   reserved (2)           19             41
//   key type               20             42
//
// INDEX HEADER (an .ndx block 0; the first 256 bytes of an .mdx tag header)
//
//   offset size meaning
//      0     4  root page
//      4     4  page count (.ndx: next page to allocate)
//      8     1  key format: 0x08 descending, 0x10 character, 0x40 unique,
//               0x20 with 0x40 distinct
//      9     1  key type "C", "N" ("D", "F" from elsewhere)
//     10     2  0x5800 in .ndx, 0 in .mdx
//     12     2  key length
//     14     2  maximum entries per page
//     16     2  numeric flag
//     18     2  entry size
//     20     2  2
//     23     1  unique marker: 0x21 distinct, 1 unique
//     24   220  key expression, NUL-terminated
//    246     1  key present (1)
//
// TREE PAGE              .ndx                    .mdx
//   entry count          0 (4)                   0 (4, low 16 bits read)
//   entries from         4                       8
//   entry layout         child 0-3, record 4-7,  record or child 0-3,
//                        key from 8              key from 4
//
// An inner page holds its entry count of keyed entries and one more entry
// that carries only the rightmost child.
namespace norvale::fmt::idx {

inline constexpr int kBlockSize = 512;
inline constexpr int kNdxPageSize = 512;
inline constexpr int kNdxPageHeader = 4;
inline constexpr int kNdxEntryHeader = 8;
inline constexpr int kNdxEntryChild = 0;
inline constexpr int kNdxEntryRecord = 4;
inline constexpr int kMdxHeaderSize = 2048;
inline constexpr int kMdxHeaderBlocks = 4;
inline constexpr int kMdxPageSize = 1024;
inline constexpr int kMdxPageBlocks = 2;
inline constexpr int kMdxPageHeader = 8;
inline constexpr int kMdxEntryHeader = 4;
inline constexpr int kMdxEntryLink = 0;
inline constexpr int kPageEntryCount = 0;
inline constexpr int kMaxTags = 47;
inline constexpr int kMaxKeyLength = 100;

inline constexpr int kMdxVersion = 0;
inline constexpr uint8_t kMdxVersionLevel4 = 2;
inline constexpr uint8_t kMdxVersionLevel7 = 3;
inline constexpr int kMdxCreated = 1;
inline constexpr int kMdxFileName = 4;
inline constexpr int kMdxFileNameSize = 16;
inline constexpr int kMdxBlockUnits = 20;
inline constexpr int kMdxPageLength = 22;
inline constexpr int kMdxProduction = 24;
inline constexpr int kMdxTagSlots = 25;
inline constexpr uint8_t kMdxTagSlotCount = 48;
inline constexpr int kMdxTagEntrySize = 26;
inline constexpr int kMdxTagsInUse = 28;
inline constexpr int kMdxLanguageId = 31;
inline constexpr int kMdxNextFreeBlock = 32;
inline constexpr int kMdxUpdated = 44;
inline constexpr int kMdxTagTable = 512;
inline constexpr int kMdxReservedSlotMark = 17;
inline constexpr int kTagEntrySize4 = 32;
inline constexpr int kTagEntrySize7 = 44;  // a level-7 entry needs 43 bytes

inline constexpr int kTagHeaderPage = 0;
inline constexpr int kTagName = 4;
inline constexpr int kTagNameSize4 = 11;
inline constexpr int kTagNameSize7 = 33;
inline constexpr int kTagKeyFormat4 = 15;
inline constexpr int kTagKeyFormat7 = 37;
inline constexpr int kTagReservedValue = 2;
inline constexpr uint8_t kTagFormatKey = 0x10;

inline constexpr int kRootPage = 0;
inline constexpr int kPageCount = 4;
inline constexpr int kKeyFormat = 8;
inline constexpr uint8_t kFormatDescending = 0x08;
inline constexpr uint8_t kFormatCharacter = 0x10;
inline constexpr uint8_t kFormatDistinct = 0x20;
inline constexpr uint8_t kFormatUnique = 0x40;
inline constexpr int kKeyType = 9;
inline constexpr int kNdxSignature = 10;
inline constexpr uint16_t kNdxSignatureValue = 0x5800;
inline constexpr int kKeyLength = 12;
inline constexpr int kMaxEntries = 14;
inline constexpr int kNumericFlag = 16;
inline constexpr int kEntrySize = 18;
inline constexpr int kConstantTwo = 20;
inline constexpr int kUniqueMarker = 23;
inline constexpr uint8_t kMarkerDistinct = 0x21;
inline constexpr uint8_t kMarkerUnique = 1;
inline constexpr int kExpression = 24;
inline constexpr int kExpressionSize = 220;
inline constexpr int kFilterPresent = 245;  // a FOR condition restricts the tag
inline constexpr int kKeyPresent = 246;
inline constexpr int kIndexHeaderSize = 256;

// Decimal form of a numeric .mdx key: exponent byte, count/sign byte, digits.
inline constexpr int kDecimalExponent = 0;
inline constexpr int kDecimalCount = 1;
inline constexpr int kDecimalDigits = 2;
inline constexpr uint8_t kDecimalBias = 0x34;
inline constexpr uint8_t kDecimalNegative = 0x80;
inline constexpr int kDecimalKeyLength = 12;
inline constexpr int kDoubleKeyLength = 8;

}  // namespace norvale::fmt::idx

// The narrow interface through which a table file keeps its open index files
// in step with its records. The index layer implements it; the table file
// knows nothing else about indexes.
#pragma once

#include <cstdint>
#include <string>

namespace norvale {

class TTableIndex {
 public:
  virtual ~TTableIndex() = default;
  // Each returns false when the change would violate a unique key.
  virtual bool InsertKey(int64_t recNo, const uint8_t* record) = 0;
  virtual void DeleteKey(int64_t recNo, const uint8_t* record) = 0;
  virtual bool UpdateKey(int64_t recNo, const uint8_t* before, const uint8_t* after) = 0;
  virtual bool RecordDeleted(int64_t recNo, const uint8_t* record) = 0;
  virtual bool RecordRecalled(int64_t recNo, const uint8_t* record) = 0;
  virtual bool WriteError() const = 0;
  virtual void ClearWriteError() = 0;
  // The message of the last refused key ("Key violation. ...").
  virtual std::string KeyViolationMessage() const = 0;
  virtual void Reopen() = 0;
  virtual void CloseFile() = 0;
  // Writes every changed page and header, so that the index on disk never
  // lags behind the records it describes; a failure shows in WriteError().
  virtual void Flush() = 0;
};

}  // namespace norvale
